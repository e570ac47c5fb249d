#include "core/dispatcher.h"

#include <utility>

#include "core/async_handler.h"
#include "core/logger_tree.h"
#include "platform/clock.h"
#include "records/log_record.h"

namespace zun {

ResultCode Dispatcher::Dispatch(Logger* logger, LogRecord&& record) noexcept {
  if (logger == nullptr) return RC_INVALID_PARAMETER;
  Housekeeping(logger);
  if (handler_ != nullptr && handler_->IsRunning()) return handler_->Enqueue(logger, std::move(record));
  return WriteRecordNow(logger, record);
}

void Dispatcher::Skip(Logger* logger) noexcept {
  if (logger != nullptr) Housekeeping(logger);
}

ResultCode Dispatcher::ReportRolledFile(WStringView path) noexcept { return reports_.ReportRolledFile(path); }

ResultCode Dispatcher::WatchFolder(WStringView folder) noexcept {
  return handler_ != nullptr ? handler_->WatchFolder(folder) : RC_NOT_SUPPORTED;
}

ResultCode Dispatcher::ReportOpenedFile(WStringView path) noexcept { return reports_.ReportOpenedFile(path); }

void Dispatcher::FinishCompressions() noexcept {
  reports_.Compressor().CollectCompletions(RolledFileCompressor::kWaitWithoutLimit);
}

void Dispatcher::Housekeeping(Logger* logger) noexcept {
  const std::uint64_t now = TickCountMs();
  // Most calls stop here, without touching a shared line for writing.
  if (now - lastHousekeepingMs_.load(std::memory_order_relaxed) <= kHousekeepingIntervalMs) return;
  if (busy_.exchange(1, std::memory_order_acquire) != 0) return;
  if (now - lastHousekeepingMs_.load(std::memory_order_relaxed) > kHousekeepingIntervalMs) {
    lastHousekeepingMs_.store(now, std::memory_order_relaxed);

    reports_.Compressor().CollectCompletions(0);
    LoggerTree::CheckTargets(logger);
    // A running worker is woken by the folders themselves; without one the
    // logging threads look for changed configuration.
    if (handler_ != nullptr && !handler_->IsRunning()) handler_->CallChangeCallback();
  }
  busy_.store(0, std::memory_order_release);
}

}  // namespace zun
