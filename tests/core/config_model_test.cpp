// Applying configuration documents to a log system: numbers, appender name
// lists, every failure code, reuse by name, and reconfiguration while other
// threads log.
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <thread>

#include "appenders/standard_layout.h"
#include "core/log_system_fixture.h"

namespace zun {
namespace {

using test::LogSystemTest;

constexpr WStringView kStandardLayout = u"[defaultLayout]\nType = Layout\nLayoutType = Standard\n";

TEST(ParseNumber32, ReadsLenientDecimalAndHexadecimal) {
  const struct {
    const char16_t* text;
    ResultCode rc;
    std::uint32_t value;
  } cases[] = {
      {u"", RC_OK, 0},
      {u"100 entries", RC_OK, 100},
      {u"abc", RC_OK, 0},
      {u"12z", RC_OK, 12},
      {u"0x100", RC_OK, 256},
      {u"0X1fG", RC_OK, 31},
      {u"0x", RC_OK, 0},   // too short for a prefix: "0" in base 10
      {u"0xg", RC_OK, 0},  // base 16 with no digit
      {u"4294967297", RC_OK, 1},
      {u"18446744073709551615", RC_OK, 0xFFFFFFFFu},
      // One more digit would pass 64 bits: 1844674407370955161 is kept.
      {u"18446744073709551616", RC_OK, 0x99999999u},
      {u"-1", RC_INVALID_PARAMETER, 7},
      {u"-0x10", RC_INVALID_PARAMETER, 7},
  };
  for (const auto& c : cases) {
    std::uint32_t value = 7;
    EXPECT_RC(c.rc, ParseNumber32(c.text, &value)) << ToUtf8(c.text);
    EXPECT_EQ(c.value, value) << ToUtf8(c.text);
  }
}

TEST(SplitAppenderNames, CutsAtCommasAndSemicolonsOnly) {
  const struct {
    const char16_t* value;
    std::vector<WString> names;
  } cases[] = {
      {u"a, b", {u"a", u"b"}}, {u"a;b ,c", {u"a", u"b", u"c"}}, {u"a b", {u"a b"}}, {u"a,", {u"a", u""}},
      {u" x\t", {u"x"}},
  };
  for (const auto& c : cases) {
    std::vector<WString> names;
    EXPECT_RC(RC_OK, SplitAppenderNames(c.value, &names));
    EXPECT_EQ(c.names, names) << ToUtf8(c.value);
  }
}

TEST_F(LogSystemTest, EachBrokenSectionGivesItsCode) {
  const struct {
    const char16_t* text;
    ResultCode rc;
  } cases[] = {
      {u"[a]\nType = Appender\n", RC_ITEM_NOT_PRESENT},
      {u"[l]\nType = Layout\n", RC_ITEM_NOT_PRESENT},
      {u"[a]\nType = Appender\nAppenderType = File\n", RC_ITEM_NOT_PRESENT},  // no FileName
      {u"[l]\nType = Layout\nLayoutType = Html\n", RC_LAYOUT_NOT_FOUND},
      {u"[a]\nType = Appender\nAppenderType = Null\nLayout = nowhere\n", RC_LAYOUT_NOT_FOUND},
      {u"[a]\nType = Appender\nAppenderType = Database\n", RC_APPENDER_NOT_FOUND},
      {u"[root]\nAddAppenders = nowhere\n", RC_APPENDER_NOT_FOUND},
      {u"[l]\nType = Layout\nLayoutType = Fw\nFormat = %msg\n", RC_TABLE_ERROR_36},
      {u"[a]\nType = Appender\nAppenderType = Syslog\n", RC_APPENDER_TYPE_MISMATCH},
      {u"[a]\nType = Appender\nAppenderType = SharedFile\nFileName = x.log\n", RC_APPENDER_TYPE_MISMATCH},
      {u"[my logger]\nSeverity = WARN\n", RC_INVALID_LOGGER_NAME},
      // Every value is expanded before anything is configured.
      {u"[a]\nType = Appender\nAppenderType = Null\n[b]\nType = Appender\nAppenderType = ${nothing}\n",
       RC_INVALID_DATA},
  };
  for (const auto& c : cases) {
    LogSystem system;
    ASSERT_RC(RC_OK, system.Start(folder_, folder_));
    EXPECT_RC(c.rc, ApplySourceText(system, WString(kStandardLayout) + c.text, folder_)) << ToUtf8(c.text);
    if (c.rc == RC_INVALID_DATA) {
      EXPECT_EQ(0u, system.Applied().appenders.count(u"a"));
    }
  }
}

TEST_F(LogSystemTest, AppenderListsAndSectionKinds) {
  ASSERT_RC(RC_OK, Apply(WString(kStandardLayout) + u"[a]\nType = Appender\nAppenderType = Null\n"
                                                    u"[b]\nType = Appender\nAppenderType = Null\n"
                                                    u"[comma]\nAddAppenders = a, b\n"
                                                    u"[quoted]\nType = Logger\nAddAppenders = \"b;a\"\n"
                                                    u"[plain]\nSeverity = ERROR\n"
                                                    u"[misspelt]\nType = Appenders\nAppenderType = Null\n"
                                                    u"[two words]\nType = Layout x\n"));
  EXPECT_EQ("a|b", AppendersOf(u"comma"));
  EXPECT_EQ("b|a", AppendersOf(u"quoted"));
  EXPECT_EQ("", AppendersOf(u"plain"));
  EXPECT_EQ(nullptr, Find(u"misspelt"));
  EXPECT_EQ(nullptr, AppenderNamed(u"misspelt"));
  EXPECT_EQ(nullptr, Find(u"two words"));

  // Blanks do not separate names; an empty name after a comma is a name too.
  EXPECT_RC(RC_APPENDER_NOT_FOUND, Apply(u"[comma]\nAddAppenders = a b\n"));
  EXPECT_EQ("", AppendersOf(u"comma"));
  EXPECT_RC(RC_APPENDER_NOT_FOUND, Apply(u"[comma]\nAddAppenders = b,\n"));
  EXPECT_EQ("b", AppendersOf(u"comma"));
}

TEST_F(LogSystemTest, AFailingSectionStopsTheSectionsAfterIt) {
  // Syslog registers its appender, which stays without a layout; "t" sorts
  // after it and is never built.
  EXPECT_RC(RC_APPENDER_TYPE_MISMATCH,
            Apply(WString(kStandardLayout) + u"[s]\nType = Appender\nAppenderType = Syslog\n"
                                             u"[t]\nType = Appender\nAppenderType = Null\n"));
  ASSERT_NE(nullptr, AppenderNamed(u"s"));
  EXPECT_EQ(nullptr, AppenderNamed(u"s")->AttachedLayout());
  EXPECT_EQ(nullptr, AppenderNamed(u"t"));
  // A layout it needs is missing: the appender is configured all the same.
  EXPECT_RC(RC_LAYOUT_NOT_FOUND,
            Apply(u"[n]\nType = Appender\nAppenderType = Console\nLayout = later\nBreakSeverity = ERROR\n"));
  ASSERT_NE(nullptr, AppenderNamed(u"n"));
  EXPECT_EQ(kSeverityError, AppenderNamed(u"n")->BreakSeverity());
}

TEST_F(LogSystemTest, ObjectsAreFoundByNameAndReconfiguredInPlace) {
  const WString text = WString(kStandardLayout) +
                       u"[lay]\nType = Layout\nLayoutType = Standard\n"
                       u"[fw]\nType = Layout\nLayoutType = Fw\n"
                       u"[db]\nType = Appender\nAppenderType = Null\nLayout = lay\n"
                       u"[app]\nAddAppenders = db, db\n";
  ASSERT_RC(RC_OK, Apply(text));
  Layout* lay = LayoutNamed(u"lay");
  Appender* db = AppenderNamed(u"db");
  ASSERT_RC(RC_OK, Apply(text));
  EXPECT_EQ(lay, LayoutNamed(u"lay"));
  EXPECT_EQ(db, AppenderNamed(u"db"));
  EXPECT_EQ(lay, db->AttachedLayout());
  EXPECT_EQ("db|db", AppendersOf(u"app"));

  auto* fw = dynamic_cast<CustomLayout*>(LayoutNamed(u"fw"));
  ASSERT_NE(nullptr, fw);
  CompiledFormat expected;
  ASSERT_RC(RC_OK, CompileLayoutFormat(kFwLayoutFormat, &expected));
  EXPECT_EQ(expected, fw->Compiled());

  // An existing appender is reused whatever type its section names now; the
  // appender itself refuses the type.
  EXPECT_RC(RC_APPENDER_TYPE_MISMATCH, Apply(u"[db]\nType = Appender\nAppenderType = Database\n"));
  EXPECT_EQ(db, AppenderNamed(u"db"));
  // So is a layout whose section changed its kind.
  EXPECT_RC(RC_LAYOUT_TYPE_MISMATCH, Apply(u"[lay]\nType = Layout\nLayoutType = Custom\nFormat = %msg\n"));
  EXPECT_NE(nullptr, dynamic_cast<StandardLayout*>(LayoutNamed(u"lay")));
}

TEST_F(LogSystemTest, RootSectionSetsTheQueueBound) {
  const struct {
    const char16_t* text;
    std::uint32_t bound;
  } steps[] = {
      {u"[root]\nMaxQueueSize = 0x10000\n", 0x10000},
      {u"[root]\nMaxQueueSize = -1\n", 0x10000},  // invalid: ignored
      {u"[other]\nMaxQueueSize = 5000\n", 0x10000},
      {u"[root]\nMaxQueueSize = 100000 bytes\n", 100000},
      {u"[root]\nSeverity = WARN\n", kDefaultMaxQueueSize},
  };
  for (const auto& step : steps) {
    EXPECT_RC(RC_OK, Apply(step.text));
    EXPECT_EQ(step.bound, system_.MaxQueueSize()) << ToUtf8(step.text);
  }
}

TEST_F(LogSystemTest, ConfiguredFileAppendersWriteThroughTheirLayouts) {
  ASSERT_RC(RC_OK,
            Apply(WString(kStandardLayout) +
                  u"[brief]\nType = Layout\nLayoutType = Custom\nFormat = %severity [%logger] %msg\n"
                  u"[file]\nType = Appender\nAppenderType = File\nFileName = out-${pid}.log\nLayout = brief\n"
                  u"[errors]\nType = Appender\nAppenderType = File\nFileName = sub/errors.log\n"
                  u"Layout = brief\nBreakSeverity = ERROR\n"
                  u"[app]\nAddAppenders = file\n"
                  u"[app.db]\nAddAppenders = errors\n"));
  EXPECT_RC(RC_OK, Log(u"app.db", u"first"));
  EXPECT_RC(RC_OK, Log(u"app", u"second"));
  EXPECT_RC(RC_OK, system_.Flush());
  EXPECT_EQ((std::vector<std::string>{"WARN [app.db] first", "WARN [app] second"}),
            test::ReadLogLines(PathOf("out-" + std::to_string(getpid()) + ".log")));
  EXPECT_FALSE(std::filesystem::exists(PathOf("sub/errors.log")));
}

TEST_F(LogSystemTest, ExportedConfigurationAppliesToAnEqualOne) {
  ASSERT_RC(RC_OK,
            Apply(WString(kStandardLayout) +
                  u"[brief]\nType = Layout\nLayoutType = Custom\nFormat = %msg 100%%\nHeader = h, i\n"
                  u"[a]\nType = Appender\nAppenderType = File\nFileName = a.log\nImmediateWrite = yes\n"
                  u"[b]\nType = Appender\nAppenderType = Console\nTarget = System.err\n"
                  u"[root]\nSeverity = DEBUG\nAddAppenders = a, b\n"
                  u"[x.y]\nAdditive = no\nSeverity = ERROR\nAddAppenders = b\n"));
  const std::string exported = Exported();
  EXPECT_NE(std::string::npos, exported.find("[root]\r\nAddAppenders = \"a, b\"\r\n"));

  LogSystem other;
  ASSERT_RC(RC_OK, other.Start(folder_, folder_));
  ASSERT_RC(RC_OK, ApplySourceText(other, ToUtf16(exported), u"elsewhere"));
  ConfigDocument document;
  ASSERT_RC(RC_OK, ExportCurrentConfiguration(other, document));
  MemoryLineSink sink;
  ASSERT_RC(RC_OK, WriteDocument(document, sink));
  EXPECT_EQ(exported, ToUtf8(sink.Text()));

  // A layout and an appender of one name cannot both become sections.
  ASSERT_RC(RC_OK, Apply(u"[a]\nType = Layout\nLayoutType = Standard\n"));
  ConfigDocument clash;
  EXPECT_RC(RC_TABLE_ERROR_37, ExportCurrentConfiguration(system_, clash));
}

// Loggers write while their appender lists, appenders and layouts are
// configured again and again: every call that returned 0 must have its line
// in exactly one of the two files.
TEST_F(LogSystemTest, ReconfiguringWhileLoggingLosesNoRecord) {
  constexpr unsigned kThreads = 4;
  constexpr unsigned kLines = 6000;
  const WString common = WString(kStandardLayout) +
                         u"[plain]\nType = Layout\nLayoutType = Custom\nFormat = %msg\n"
                         u"[a]\nType = Appender\nAppenderType = File\nFileName = a.log\nLayout = plain\n"
                         u"[b]\nType = Appender\nAppenderType = File\nFileName = b.log\nLayout = plain\n";
  const WString toA = common + u"[w]\nAddAppenders = a\n";
  const WString toB = common + u"[w]\nAddAppenders = b\n";
  ASSERT_RC(RC_OK, Apply(toA));

  std::atomic<unsigned> running{kThreads};
  std::barrier start(kThreads + 1);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t, logger = Get(u"w.t" + ToUtf16(std::to_string(t)))] {
      start.arrive_and_wait();
      for (unsigned n = 0; n < kLines; ++n) EXPECT_RC(RC_OK, Log(logger, test::AppendLineText(t, n)));
      running.fetch_sub(1);
    });
  }
  start.arrive_and_wait();
  unsigned rounds = 0;
  while (running.load() != 0) EXPECT_RC(RC_OK, Apply(++rounds % 2 ? toB : toA));
  for (std::thread& thread : threads) thread.join();
  EXPECT_RC(RC_OK, system_.Flush());

  std::vector<std::string> lines;
  for (const char* file : {"a.log", "b.log"}) {
    if (!std::filesystem::exists(PathOf(file))) continue;  // every record went to the other
    for (std::string& line : test::ReadLogLines(PathOf(file))) lines.push_back(std::move(line));
  }
  test::AppendWriters writers;
  for (unsigned t = 0; t < kThreads; ++t) writers[t] = kLines;
  test::ExpectEveryLineOnce(lines, writers);
  EXPECT_GT(rounds, 1u);
}

}  // namespace
}  // namespace zun
