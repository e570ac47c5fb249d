#pragma once
// A log system of its own per test, with the temporary folder as both its
// configuration folder and its log folder.
#include <string>
#include <vector>

#include "appenders/appender_fixtures.h"
#include "config/config_writer.h"
#include "core/config_loading.h"
#include "core/config_model.h"
#include "core/log_system.h"

namespace zun::test {

class LogSystemTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    folder_ = ToUtf16(Dir().string());
    ASSERT_RC(RC_OK, system_.Start(folder_, folder_));
  }

  ResultCode Apply(WStringView text) { return ApplySourceText(system_, text, folder_); }
  ResultCode Load(WStringView name) { return LoadSourceFile(system_, name, folder_, folder_); }
  void WriteConfig(const std::string& name, const std::string& text) { WriteFileBytes(PathOf(name), text); }

  Logger* Find(WStringView name) { return system_.Tree().Find(name); }
  // The names of a logger's appenders, joined by "|"; "-" for no logger.
  std::string AppendersOf(WStringView logger) {
    Logger* found = Find(logger);
    if (found == nullptr) return "-";
    std::vector<WString> names;
    EXPECT_RC(RC_OK, found->AppenderNames(&names));
    std::string joined;
    for (const WString& name : names) joined += (joined.empty() ? "" : "|") + ToUtf8(name);
    return joined;
  }
  Appender* AppenderNamed(WStringView name) {
    const auto found = system_.Applied().appenders.find(name);
    return found == system_.Applied().appenders.end() ? nullptr : found->second.get();
  }
  Layout* LayoutNamed(WStringView name) {
    const auto found = system_.Applied().layouts.find(name);
    return found == system_.Applied().layouts.end() ? nullptr : found->second.get();
  }
  // The current configuration as text.
  std::string Exported() {
    ConfigDocument document;
    EXPECT_RC(RC_OK, ExportCurrentConfiguration(system_, document));
    MemoryLineSink sink;
    EXPECT_RC(RC_OK, WriteDocument(document, sink));
    return ToUtf8(sink.Text());
  }
  ZunLogger* Get(WStringView name) {
    ZunLogger* logger = nullptr;
    EXPECT_RC(RC_OK, system_.GetLogger(58, name, &logger));
    return logger;
  }
  // A host's WARN call on `logger` with `message` as its text.
  static ResultCode Log(ZunLogger* logger, WStringView message) {
    return logger->vtbl->LogFull(logger, ZUN_SEVERITY_WARN, WString(message).c_str(), u"main.c", 1, 2, 3, 4,
                                 0, nullptr);
  }
  ResultCode Log(WStringView logger, WStringView message) { return Log(Get(logger), message); }

  WString folder_;
  LogSystem system_;
};

}  // namespace zun::test
