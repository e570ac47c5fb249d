#pragma once
// A log system of its own per test, with the temporary folder as both its
// configuration folder and its log folder.
#include <string>
#include <vector>

#include "appenders/appender_fixtures.h"
#include "config/config_writer.h"
#include "core/config_loading.h"
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
  Severity ThresholdOf(WStringView name) {
    Logger* logger = system_.Tree().Find(name);
    return logger != nullptr ? logger->Threshold() : -1;
  }
  // The logger's appender names joined by "|".
  std::string AppendersOf(WStringView name) {
    std::vector<WString> names;
    EXPECT_RC(RC_OK, system_.Tree().Find(name)->AppenderNames(&names));
    std::string joined;
    for (const WString& each : names) joined += (joined.empty() ? "" : "|") + ToUtf8(each);
    return joined;
  }
  // A host's WARN call with `message` as its text.
  static ResultCode Log(ZunLogger* logger, WStringView message) {
    return logger->vtbl->LogFull(logger, ZUN_SEVERITY_WARN, WString(message).c_str(), u"m.c", 1, 2, 3, 4, 0,
                                 nullptr);
  }
  ZunLogger* Get(WStringView name) {
    ZunLogger* logger = nullptr;
    EXPECT_RC(RC_OK, system_.GetLogger(58, name, &logger));
    return logger;
  }

  WString folder_;
  LogSystem system_;
};

}  // namespace zun::test
