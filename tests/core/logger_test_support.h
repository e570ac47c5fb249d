#pragma once
// Appenders and dispatchers for logger tests that keep what they receive in
// memory and fail on demand.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "appenders/appender.h"
#include "appenders/appender_owner.h"
#include "appenders/standard_layout.h"
#include "core/log_record.h"
#include "core/logger_tree.h"

namespace zun::test {

// Renders with the standard layout and keeps each record's message; a
// failure code set with FailWith is returned by every write until cleared.
// `closeLog`, when given, collects the name of every appender whose target
// is closed, in order.
class RecordingAppender final : public Appender {
 public:
  explicit RecordingAppender(const std::u16string& name, std::vector<std::u16string>* closeLog = nullptr)
      : Appender(nullptr, name), closeLog_(closeLog) {
    AttachLayout(&layout_);
  }

  void FailWith(ResultCode rc) {
    auto hold = LockGuard();
    failure_ = rc;
  }
  std::vector<std::u16string> Messages() {
    auto hold = LockGuard();
    return messages_;
  }

 protected:
  ResultCode Write(WStringView) noexcept override { return failure_; }
  ResultCode WriteRecord(const LogRecord& record, WStringView text) noexcept override {
    if (Failed(failure_)) return failure_;
    messages_.push_back(record.message);
    return Write(text);
  }
  ResultCode CloseTarget() noexcept override {
    if (closeLog_ != nullptr) closeLog_->push_back(Name());
    return RC_OK;
  }

 private:
  StandardLayout layout_{std::u16string(u"standard")};
  std::vector<std::u16string>* closeLog_;
  ResultCode failure_ = RC_OK;
  std::vector<std::u16string> messages_;
};

// A dispatcher that writes straight to the appenders (no protection), as
// the synchronous path does, and can be told to fail instead.
class PassThroughOwner final : public AppenderOwner {
 public:
  ResultCode Dispatch(Logger* logger, const LogRecord& record) noexcept override {
    std::lock_guard<std::mutex> hold(lock_);
    if (records_.size() >= failAt_) return failure_;
    records_.push_back(record);
    return LoggerTree::WriteToAppenders(logger, record);
  }
  ResultCode ReportRolledFile(WStringView) noexcept override { return RC_OK; }
  ResultCode WatchFolder(WStringView) noexcept override { return RC_OK; }
  ResultCode ReportOpenedFile(WStringView) noexcept override { return RC_OK; }

  // Every dispatched record, in order.
  std::vector<LogRecord> Records() {
    std::lock_guard<std::mutex> hold(lock_);
    return records_;
  }
  // Once `okCount` records in all were dispatched, every further one fails
  // with `rc` and is not kept.
  void FailAfter(std::size_t okCount, ResultCode rc) {
    std::lock_guard<std::mutex> hold(lock_);
    failAt_ = okCount;
    failure_ = rc;
  }

 private:
  std::mutex lock_;
  std::vector<LogRecord> records_;
  std::size_t failAt_ = SIZE_MAX;
  ResultCode failure_ = RC_OK;
};

}  // namespace zun::test
