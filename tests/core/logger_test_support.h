#pragma once
// Stand-ins for logger tests: an appender and a dispatcher that keep what
// they receive and fail on demand, and the sources hosts hand over.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "appenders/appender.h"
#include "appenders/appender_owner.h"
#include "appenders/standard_layout.h"
#include "config/config_document.h"
#include "core/logger_tree.h"
#include "records/log_record.h"
#include "records/typed_arguments.h"
#include "support/test_support.h"

namespace zun::test {

// A section named "logger" holding the keys with their plain values, as a
// configuration file would give them.
inline ConfigSectionRef Section(std::vector<std::pair<std::u16string, std::u16string>> keys) {
  ConfigSectionRef section;
  EXPECT_RC(RC_OK, ConfigSection::Create(u"logger", &section));
  for (const auto& [name, value] : keys) {
    ConfigKeyRef key;
    EXPECT_RC(RC_OK, ConfigKey::Create(name, &key));
    EXPECT_RC(RC_OK, key->SetPlainValue(value));
    EXPECT_RC(RC_OK, section->AddKey(key));
  }
  return section;
}

// Keeps each record's message; a code set with FailWith is returned by every
// write and close until cleared.
class RecordingAppender final : public Appender {
 public:
  explicit RecordingAppender(const std::u16string& name) : Appender(nullptr, name) { AttachLayout(&layout_); }

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
  ResultCode CloseTarget() noexcept override { return failure_; }

 private:
  StandardLayout layout_{std::u16string(u"standard")};
  ResultCode failure_ = RC_OK;
  std::vector<std::u16string> messages_;
};

// A dispatcher that keeps each record and writes it straight to the
// appenders, as the synchronous path does.
class PassThroughOwner final : public AppenderOwner {
 public:
  ResultCode Dispatch(Logger* logger, LogRecord&& record) noexcept override {
    records_.push_back(record);
    return LoggerTree::WriteToAppenders(logger, record);
  }
  ResultCode ReportRolledFile(WStringView) noexcept override { return RC_OK; }
  ResultCode WatchFolder(WStringView) noexcept override { return RC_OK; }
  ResultCode ReportOpenedFile(WStringView) noexcept override { return RC_OK; }

  const std::vector<LogRecord>& Records() const { return records_; }

 private:
  std::vector<LogRecord> records_;
};

// A logger tree whose records pass straight to the appenders through a
// PassThroughOwner.
class LoggerTreeTest : public ::testing::Test {
 protected:
  Logger* Get(std::u16string_view name, std::uint32_t mask = 0) {
    Logger* logger = nullptr;
    EXPECT_RC(RC_OK, tree_.GetOrCreate(&logger, mask, name));
    return logger;
  }
  static ResultCode Warn(Logger* logger, const char16_t* message) {
    ZunLogger* face = logger->Interface();
    return face->vtbl->LogFull(face, ZUN_SEVERITY_WARN, message, u"tree.cpp", 1, 0, 0, 0, 0, nullptr);
  }

  PassThroughOwner owner_;
  LoggerTree tree_{&owner_};
};

// A host's record source over fixed views; Get fails from `failAt` on.
struct ViewSource {
  ZunRecordSource face;
  std::vector<ZunLogRecordView> views;
  std::uint32_t failAt = UINT32_MAX;
  std::vector<std::uint32_t> asked;

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
  static void* Query(ZunRecordSource*, uint32_t, uint32_t, uint8_t* found) {
    *found = 0;
    return nullptr;
  }
  static constexpr ZunRecordSourceVtbl kTable = {Query, Count, Get};
  ViewSource() : face{&kTable} {}
};

// A host's typed-argument source over a fixed list, read once.
struct ArgumentList {
  ZunArgumentSource face;
  std::vector<ZunTypedArgument> arguments;
  std::size_t next = 0;

  static uint8_t Next(ZunArgumentSource* self, ZunTypedArgument* out) {
    auto* list = reinterpret_cast<ArgumentList*>(self);
    if (list->next == list->arguments.size()) return 0;
    *out = list->arguments[list->next++];
    return 1;
  }
  static constexpr ZunArgumentSourceVtbl kTable = {QueryArgumentSource, Next};
  explicit ArgumentList(std::vector<ZunTypedArgument> list = {})
      : face{&kTable}, arguments(std::move(list)) {}
};

// Typed arguments as hosts fill them in; text kinds take UINT32_MAX as
// "zero-terminated".
inline ZunTypedArgument Arg(std::uint32_t kind, std::uint64_t bits) { return {kind, {.u = bits}}; }
inline ZunTypedArgument Signed(std::int64_t v) { return {ZUN_ARG_SIGNED, {.i = v}}; }
inline ZunTypedArgument Unsigned(std::uint64_t v) { return {ZUN_ARG_UNSIGNED, {.u = v}}; }
inline ZunTypedArgument Double(double v) { return {ZUN_ARG_DOUBLE, {.d = v}}; }
inline ZunTypedArgument Span(std::uint32_t kind, const void* data, std::uint32_t length = UINT32_MAX) {
  return {kind, {.span = {data, length}}};
}

}  // namespace zun::test
