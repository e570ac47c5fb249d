#pragma once
// What logger tests stand in for: appenders and a dispatcher that keep what
// they receive in memory and fail on demand, and the sources hosts hand over.
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

// A host's record source over fixed views; Get fails from `failAt` on.
struct ViewSource {
  ZunRecordSource face;
  std::vector<ZunLogRecordView> views;
  std::uint32_t failAt = UINT32_MAX;
  std::vector<std::uint32_t> asked;

  static void* Query(ZunRecordSource*, uint32_t, uint32_t, uint8_t* found) {
    *found = 0;
    return nullptr;
  }
  static uint32_t Count(ZunRecordSource* self) {
    return static_cast<uint32_t>(reinterpret_cast<ViewSource*>(self)->views.size());
  }
  static ZunResult Get(ZunRecordSource* self, uint32_t index, ZunLogRecordView* out) {
    auto* source = reinterpret_cast<ViewSource*>(self);
    source->asked.push_back(index);
    if (index >= source->failAt) return RC_READ_FAULT;
    *out = source->views[index];
    return RC_OK;
  }
  static constexpr ZunRecordSourceVtbl kTable = {Query, Count, Get};
  ViewSource() : face{&kTable} {}
};

// A host's typed-argument source over a fixed list.
struct ArgumentList {
  ZunArgumentSource face;
  std::vector<ZunTypedArgument> arguments;
  std::size_t next = 0;

  static void* Query(ZunArgumentSource* self, uint32_t id, uint32_t version, uint8_t* found) {
    *found = id == ZUN_IID_ARGUMENT_SOURCE && version < 2;
    return *found ? self : nullptr;
  }
  static uint8_t Next(ZunArgumentSource* self, ZunTypedArgument* out) {
    auto* list = reinterpret_cast<ArgumentList*>(self);
    if (list->next == list->arguments.size()) return 0;
    *out = list->arguments[list->next++];
    return 1;
  }
  static constexpr ZunArgumentSourceVtbl kTable = {Query, Next};
  ArgumentList() : face{&kTable} {}
};

}  // namespace zun::test
