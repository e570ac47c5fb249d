#include "core/dispatcher.h"

#include <new>

#include "core/logger_tree.h"
#include "platform/clock.h"
#include "protect/protected_text.h"
#include "records/log_record.h"
#include "records/protected_record.h"

namespace zun {

ResultCode Dispatcher::Dispatch(Logger* logger, const LogRecord& record) noexcept {
  if (logger == nullptr) return RC_INVALID_PARAMETER;
  Housekeeping(logger);
  if (record.protectionMode == kProtectNone || record.message.empty()) {
    return LoggerTree::WriteToAppenders(logger, record);
  }
  try {
    // The caller's record keeps its plain text; the appenders see the
    // protected form only.
    LogRecord encoded(record);
    const ResultCode rc = EncodeMessageText(encoded);
    if (Failed(rc)) return rc;
    return LoggerTree::WriteToAppenders(logger, encoded);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode Dispatcher::ReportRolledFile(WStringView path) noexcept { return reports_.ReportRolledFile(path); }

ResultCode Dispatcher::WatchFolder(WStringView) noexcept { return RC_NOT_SUPPORTED; }

ResultCode Dispatcher::ReportOpenedFile(WStringView path) noexcept { return reports_.ReportOpenedFile(path); }

void Dispatcher::Housekeeping(Logger* logger) noexcept {
  if (busy_.exchange(1, std::memory_order_acquire) != 0) return;
  const std::uint64_t now = TickCountMs();
  if (now - lastHousekeepingMs_.load(std::memory_order_relaxed) > kHousekeepingIntervalMs) {
    lastHousekeepingMs_.store(now, std::memory_order_relaxed);
    reports_.Compressor().CollectCompletions(0);
    LoggerTree::CheckTargets(logger);
  }
  busy_.store(0, std::memory_order_release);
}

}  // namespace zun
