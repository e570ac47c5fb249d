// Configuration documents, texts, files and reloads applied to a log
// system: every failure code, objects built and reused by name, the
// exported text, and reconfiguration while other threads log.
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "appenders/appender_fixtures.h"
#include "appenders/standard_layout.h"
#include "config/config_writer.h"
#include "core/config_loading.h"
#include "core/log_system.h"

namespace zun {
namespace {

// A log system of its own per test, with the temporary folder as both its
// configuration folder and its log folder.
class LogSystemTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    folder_ = ToUtf16(Dir().string());
    ASSERT_RC(RC_OK, system_.Start(folder_, folder_));
  }
  ResultCode Apply(WStringView text) { return ApplySourceText(system_, text, folder_); }
  Severity ThresholdOf(WStringView name) { return system_.Tree().Find(name)->Threshold(); }
  std::string AppendersOf(WStringView name) {  // joined by "|"
    std::vector<WString> names;
    EXPECT_RC(RC_OK, system_.Tree().Find(name)->AppenderNames(&names));
    std::string joined;
    for (const WString& each : names) joined += (joined.empty() ? "" : "|") + ToUtf8(each);
    return joined;
  }
  ZunLogger* Get(WStringView name) {
    ZunLogger* logger = nullptr;
    EXPECT_RC(RC_OK, system_.GetLogger(58, name, &logger));
    return logger;
  }
  static ResultCode Log(ZunLogger* logger, WStringView message) {  // at WARN
    return logger->vtbl->LogFull(logger, ZUN_SEVERITY_WARN, WString(message).c_str(), u"m.c", 1, 2, 3, 4, 0,
                                 nullptr);
  }

  WString folder_;
  LogSystem system_;
};

// Each text fails with its code; "zz", an appender configured after every
// appender and layout of the texts, is built only when the failure comes
// later, among the loggers.
TEST_F(LogSystemTest, EachBrokenSectionGivesItsCodeAndStopsTheRest) {
  const struct {
    const char16_t* text;
    ResultCode rc;
    bool laterBuilt;
  } cases[] = {
      {u"[a]\nType = Appender\n", RC_ITEM_NOT_PRESENT, false},
      {u"[l]\nType = Layout\n", RC_ITEM_NOT_PRESENT, false},
      {u"[a]\nType = Appender\nAppenderType = File\n", RC_ITEM_NOT_PRESENT, false},
      {u"[l]\nType = Layout\nLayoutType = Html\n", RC_LAYOUT_NOT_FOUND, false},
      {u"[a]\nType = Appender\nAppenderType = Null\nLayout = nowhere\n", RC_LAYOUT_NOT_FOUND, false},
      {u"[a]\nType = Appender\nAppenderType = Database\n", RC_APPENDER_NOT_FOUND, false},
      {u"[root]\nAddAppenders = nowhere\n", RC_APPENDER_NOT_FOUND, true},
      {u"[l]\nType = Layout\nLayoutType = Fw\nFormat = %msg\n", RC_TABLE_ERROR_36, false},
      {u"[a]\nType = Appender\nAppenderType = Syslog\n", RC_APPENDER_TYPE_MISMATCH, false},
      {u"[a]\nType = Appender\nAppenderType = SharedFile\nFileName = x\n", RC_APPENDER_TYPE_MISMATCH, false},
      {u"[my logger]\n", RC_INVALID_LOGGER_NAME, true},
      {u"[zz0]\nType = Appender\nAppenderType = ${nothing}\n", RC_INVALID_DATA, false},
  };
  for (const auto& c : cases) {
    LogSystem system;
    ASSERT_RC(RC_OK, system.Start(folder_, folder_));
    const WString text = WString(c.text) + u"[zz]\nType = Appender\nAppenderType = Null\n";
    EXPECT_RC(c.rc, ApplySourceText(system, text, folder_)) << ToUtf8(c.text);
    const auto& appenders = system.Applied().appenders;
    EXPECT_EQ(c.laterBuilt, appenders.count(u"zz") == 1) << ToUtf8(c.text);
    // A rejected type leaves its appender registered, without a layout.
    if (c.rc == RC_APPENDER_TYPE_MISMATCH) {
      EXPECT_EQ(nullptr, appenders.at(u"a")->AttachedLayout());
    }
  }
}

TEST_F(LogSystemTest, ObjectsAreBuiltOnceAndReconfiguredByName) {
  const WString text =
      u"[lay]\nType = Layout\nLayoutType = Standard\n[fw]\nType = Layout\nLayoutType = Fw\n"
      u"[a]\nType = Appender\nAppenderType = Null\nLayout = lay\n"
      u"[b]\nType = Appender\nAppenderType = Null\n"
      u"[comma]\nAddAppenders = a, b\n[quoted]\nType = Logger\nAddAppenders = \"b;a\"\n"
      u"[misspelt]\nType = Appenders\nAppenderType = Null\n[root]\nMaxQueueSize = 0x10000\n";
  ASSERT_RC(RC_OK, Apply(text));
  auto& applied = system_.Applied();
  Appender* a = applied.appenders.at(u"a").get();
  Layout* lay = applied.layouts.at(u"lay").get();
  ASSERT_RC(RC_OK, Apply(text));
  EXPECT_EQ(a, applied.appenders.at(u"a").get());
  EXPECT_EQ(lay, a->AttachedLayout());
  EXPECT_EQ("a|b", AppendersOf(u"comma"));
  EXPECT_EQ("b|a", AppendersOf(u"quoted"));
  EXPECT_EQ(0u, applied.appenders.count(u"misspelt") + (system_.Tree().Find(u"misspelt") != nullptr));
  EXPECT_EQ(0x10000u, system_.MaxQueueSize());

  // Blanks do not separate names; an empty name after a comma is one too.
  EXPECT_RC(RC_APPENDER_NOT_FOUND, Apply(u"[comma]\nAddAppenders = a b\n"));
  EXPECT_EQ("", AppendersOf(u"comma"));
  EXPECT_RC(RC_APPENDER_NOT_FOUND, Apply(u"[comma]\nAddAppenders = b,\n"));
  EXPECT_EQ("b", AppendersOf(u"comma"));
  // An existing object keeps its class; it refuses a section of another.
  EXPECT_RC(RC_APPENDER_TYPE_MISMATCH, Apply(u"[a]\nType = Appender\nAppenderType = Database\n"));
  EXPECT_EQ(a, applied.appenders.at(u"a").get());
  EXPECT_RC(RC_LAYOUT_TYPE_MISMATCH, Apply(u"[lay]\nType = Layout\nLayoutType = Custom\nFormat = %msg\n"));
  EXPECT_NE(nullptr, dynamic_cast<StandardLayout*>(applied.layouts.at(u"lay").get()));
}

std::string ExportedText(LogSystem& system) {
  ConfigDocument document;
  EXPECT_RC(RC_OK, ExportCurrentConfiguration(system, document));
  MemoryLineSink sink;
  EXPECT_RC(RC_OK, WriteDocument(document, sink));
  return ToUtf8(sink.Text());
}

TEST_F(LogSystemTest, ConfiguredFilesAreWrittenAndTheExportAppliesToAnEqualConfiguration) {
  ASSERT_RC(
      RC_OK,
      Apply(u"[brief]\nType = Layout\nLayoutType = Custom\nFormat = %severity [%logger] %msg\n"
            u"[a]\nType = Appender\nAppenderType = File\nFileName = a-${pid}.log\nLayout = brief\n"
            u"[b]\nType = Appender\nAppenderType = Console\nBreakSeverity = ERROR\n"
            u"[root]\nSeverity = DEBUG\nAddAppenders = a, b\n[x.y]\nAdditive = no\nSeverity = ERROR\n"));
  EXPECT_RC(RC_OK, Log(Get(u"x"), u"line"));
  EXPECT_RC(RC_OK, system_.Flush());
  EXPECT_EQ(std::vector<std::string>{"WARN [x] line"},
            test::ReadLogLines(PathOf("a-" + std::to_string(getpid()) + ".log")));

  const std::string exported = ExportedText(system_);
  EXPECT_NE(std::string::npos, exported.find("[root]\r\nAddAppenders = \"a, b\"\r\n"));
  EXPECT_NE(std::string::npos,
            exported.find("[x.y]\r\nAddAppenders = \r\nAdditive = false\r\nSeverity = ERROR\r\n"));
  LogSystem other;
  ASSERT_RC(RC_OK, other.Start(folder_, folder_));
  ASSERT_RC(RC_OK, ApplySourceText(other, ToUtf16(exported), u"elsewhere"));
  EXPECT_EQ(exported, ExportedText(other));
  // A layout and an appender of one name cannot both become sections.
  ASSERT_RC(RC_OK, Apply(u"[a]\nType = Layout\nLayoutType = Standard\n"));
  ConfigDocument clash;
  EXPECT_RC(RC_TABLE_ERROR_37, ExportCurrentConfiguration(system_, clash));
}

// Loggers write while their parent's appender list, the appenders and their
// layout are configured again and again: every call that returned 0 has its
// line in exactly one of the two files.
TEST_F(LogSystemTest, ReconfiguringWhileLoggingLosesNoRecord) {
  constexpr unsigned kThreads = 4, kLines = 6000;
  const WString common =
      u"[plain]\nType = Layout\nLayoutType = Custom\nFormat = %msg\n"
      u"[a]\nType = Appender\nAppenderType = File\nFileName = a.log\nLayout = plain\n"
      u"[b]\nType = Appender\nAppenderType = File\nFileName = b.log\nLayout = plain\n";
  const WString texts[2] = {common + u"[w]\nAdditive = no\nAddAppenders = a\n",
                            common + u"[w]\nAdditive = no\nAddAppenders = b\n"};
  ASSERT_RC(RC_OK, Apply(texts[0]));
  std::vector<ZunLogger*> loggers;
  for (unsigned t = 0; t < kThreads; ++t) loggers.push_back(Get(u"w.t" + ToUtf16(std::to_string(t))));
  std::atomic<unsigned> running{kThreads};
  test::RunThreads(kThreads + 1, [&](unsigned t) {
    if (t == kThreads) {
      for (unsigned round = 1; running.load() != 0; ++round) EXPECT_RC(RC_OK, Apply(texts[round % 2]));
      return;
    }
    for (unsigned n = 0; n < kLines; ++n) EXPECT_RC(RC_OK, Log(loggers[t], test::AppendLineText(t, n)));
    running.fetch_sub(1);
  });
  EXPECT_RC(RC_OK, system_.Flush());

  std::vector<std::string> lines;
  for (const char* file : {"a.log", "b.log"}) {
    if (!std::filesystem::exists(PathOf(file))) continue;  // every record went to the other
    for (std::string& line : test::ReadLogLines(PathOf(file))) lines.push_back(std::move(line));
  }
  test::AppendWriters writers;
  for (unsigned t = 0; t < kThreads; ++t) writers[t] = kLines;
  test::ExpectEveryLineOnce(lines, writers);
}

// A file of one non-additive logger section at a severity; `ahead` moves
// its last-write time that many seconds on, so that a change always shows.
void WriteLogger(const std::filesystem::path& path, const std::string& name, const std::string& severity,
                 int ahead = 0) {
  test::WriteFileBytes(path, "[" + name + "]\nAdditive = no\nSeverity = " + severity + "\n");
  std::filesystem::last_write_time(path,
                                   std::filesystem::last_write_time(path) + std::chrono::seconds(ahead));
}

TEST_F(LogSystemTest, LoadedFilesAreRecordedOnceAndReloaded) {
  WriteLogger(PathOf("privlog.cfg"), "p", "ERROR");
  LoadPrivateConfiguration(system_);
  WriteLogger(PathOf("privlog.cfg"), "p", "FATAL", 5);
  LoadPrivateConfiguration(system_);  // tried once only
  WriteLogger(PathOf("one.cfg"), "one", "ERROR");
  WriteLogger(PathOf("two.cfg"), "two", "ERROR");
  ASSERT_RC(RC_OK, LoadSourceFile(system_, u"one.cfg", folder_, folder_));
  ASSERT_RC(RC_OK, LoadSourceFile(system_, u"one.cfg", folder_, u"logs"));
  ASSERT_RC(RC_OK, LoadSourceFile(system_, u"two.cfg", folder_, folder_));
  EXPECT_RC(RC_FILE_NOT_FOUND, LoadSourceFile(system_, u"missing.cfg", folder_, folder_));
  ASSERT_RC(RC_OK, Apply(u"[text]\nAdditive = no\nSeverity = ERROR\n"));
  ASSERT_EQ(3u, system_.Sources().size());  // one.cfg, privlog.cfg, two.cfg
  EXPECT_EQ(kSeverityError, ThresholdOf(u"p"));

  const WString allDebug =
      u"[one]\nAdditive = no\nSeverity = DEBUG\n[two]\nAdditive = no\nSeverity = DEBUG\n"
      u"[text]\nAdditive = no\nSeverity = DEBUG\n";
  ASSERT_RC(RC_OK, Apply(allDebug));
  std::filesystem::remove(PathOf("one.cfg"));
  EXPECT_RC(RC_OK, ReloadConfiguration(system_));
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"one"));  // gone: skipped
  EXPECT_EQ(kSeverityError, ThresholdOf(u"two"));
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"text"));  // texts are not recorded
  EXPECT_EQ(kSeverityFatal, ThresholdOf(u"p"));

  // Only files whose last-write time changed are applied, once per change.
  ASSERT_RC(RC_OK, Apply(allDebug));
  WriteLogger(PathOf("two.cfg"), "two", "WARN", 10);
  ReloadChangedConfiguration(system_);
  EXPECT_EQ(kSeverityWarn, ThresholdOf(u"two"));
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"text"));
  ASSERT_RC(RC_OK, Apply(allDebug));
  ReloadChangedConfiguration(system_);
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"two"));
}

TEST_F(LogSystemTest, TheDefaultConfigurationRollsCommonLogUntilAHostReplacesIt) {
  EXPECT_EQ(kSeverityInfo, ThresholdOf(u"root"));
  ZunLogger* app = Get(u"app");
  const WString line(1000, u'x');
  for (int i = 0; i < 1030; ++i) ASSERT_RC(RC_OK, Log(app, line));  // past 1024000 bytes once
  EXPECT_TRUE(std::filesystem::exists(PathOf("common.log.1")));
  EXPECT_FALSE(std::filesystem::exists(PathOf("common.log.2")));

  // The rolling appender is found by name, and refuses to become a console.
  EXPECT_RC(RC_APPENDER_TYPE_MISMATCH,
            Apply(u"[defaultFileAppender]\nType = Appender\nAppenderType = Console\n"));
  ASSERT_RC(RC_OK, Apply(u"[mine]\nType = Appender\nAppenderType = File\nFileName = mine.log\n"
                         u"[root]\nAddAppenders = mine\n"));
  const auto size = std::filesystem::file_size(PathOf("common.log"));
  ASSERT_RC(RC_OK, Log(app, u"to mine"));
  ASSERT_RC(RC_OK, system_.Flush());
  EXPECT_EQ(size, std::filesystem::file_size(PathOf("common.log")));
  EXPECT_EQ(1u, test::ReadLogLines(PathOf("mine.log")).size());
  ASSERT_RC(RC_OK, system_.Reset());
  EXPECT_EQ("defaultFileAppender", AppendersOf(u"root"));
  EXPECT_EQ(0u, system_.Applied().appenders.count(u"mine"));
}

}  // namespace
}  // namespace zun
