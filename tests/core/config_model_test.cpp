// Applying configuration documents: every failure code,
// objects built and reused by name, the exported text, and reconfiguration
// while other threads log.
#include <unistd.h>

#include <atomic>

#include "appenders/standard_layout.h"
#include "core/log_system_fixture.h"

namespace zun {
namespace {

using test::LogSystemTest;

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
  CompiledFormat fw;
  ASSERT_RC(RC_OK, CompileLayoutFormat(kFwLayoutFormat, &fw));
  EXPECT_EQ(fw, dynamic_cast<CustomLayout&>(*applied.layouts.at(u"fw")).Compiled());

  EXPECT_EQ(0x10000u, system_.MaxQueueSize());
  EXPECT_RC(RC_OK, Apply(u"[root]\nMaxQueueSize = -1\n"));
  EXPECT_EQ(0x10000u, system_.MaxQueueSize());
  EXPECT_RC(RC_OK, Apply(u"[root]\n"));
  EXPECT_EQ(kDefaultMaxQueueSize, system_.MaxQueueSize());

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

}  // namespace
}  // namespace zun
