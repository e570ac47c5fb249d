#include "appenders/custom_layout.h"

#include <gtest/gtest.h>

#include <memory>

#include "config/config_reader.h"
#include "config/config_writer.h"
#include "core/log_record.h"
#include "core/severity.h"
#include "platform/clock.h"
#include "platform/names.h"
#include "support/test_support.h"

namespace zun {
namespace {

using T = LayoutToken;

FileTime TimeOf(int year, int month, int day, int hour, int minute, int second, int ms) {
  FileTime time = 0;
  EXPECT_EQ(0u, CalendarToFileTime({year, month, day, hour, minute, second, ms, 0}, &time));
  return time;
}

LogRecord MakeRecord() {
  LogRecord record;
  record.loggerName = u"app.net";
  record.severity = kSeverityWarn;
  record.message = u"hello";
  record.time = TimeOf(2019, 3, 7, 8, 5, 9, 42);
  record.fileId = u"main.cpp";
  record.line = 12;
  record.buildNumber = 3;
  record.revision = 4;
  record.product = 5;
  record.threadId = 77;
  record.processId = 4000000000u;
  return record;
}

CompiledFormat Compile(WStringView format) {
  CompiledFormat compiled;
  EXPECT_RC(RC_OK, CompileLayoutFormat(format, &compiled));
  return compiled;
}

WString Rebuild(const CompiledFormat& compiled) {
  WString text;
  EXPECT_RC(RC_OK, RebuildLayoutFormat(compiled, &text));
  return text;
}

// The first section of configuration text, read as the reader reads files.
ConfigSectionRef SectionFromText(WStringView text) {
  ConfigDocument document;
  MemoryLineSource source(text);
  EXPECT_RC(RC_OK, ParseDocument(document, source));
  EXPECT_TRUE(document.Errors().empty());
  ConfigSectionRef section;
  ConfigSectionEnumerator sections = document.EnumerateSections();
  EXPECT_RC(RC_OK, sections.Current(&section));
  return section;
}

// A custom layout loaded from a section holding `format` as its plain value.
std::unique_ptr<CustomLayout> LayoutWithFormat(WStringView format) {
  ConfigSectionRef section;
  EXPECT_RC(RC_OK, ConfigSection::Create(u"L", &section));
  ConfigKeyRef type, key;
  EXPECT_RC(RC_OK, ConfigKey::Create(u"LayoutType", &type));
  EXPECT_RC(RC_OK, type->SetPlainValue(u"Custom"));
  EXPECT_RC(RC_OK, ConfigKey::Create(u"Format", &key));
  EXPECT_RC(RC_OK, key->SetPlainValue(format));
  EXPECT_RC(RC_OK, section->AddKey(type));
  EXPECT_RC(RC_OK, section->AddKey(key));
  auto layout = std::make_unique<CustomLayout>(u"L");
  EXPECT_RC(RC_OK, layout->LoadConfig(*section));
  return layout;
}

WString RenderWith(WStringView format, const LogRecord& record) {
  WString out = u"stale";
  EXPECT_RC(RC_OK, LayoutWithFormat(format)->Render(out, record));
  return out;
}

TEST(CompileLayoutFormat, CutsLiteralRunsAndTokens) {
  CompiledFormat c = Compile(u"%DATE [%msg] 100%%");
  EXPECT_EQ((std::vector<T>{T::kDate, T::kLiteral, T::kMsg, T::kLiteral}), c.tokens);
  EXPECT_EQ((std::vector<WString>{u" [", u"] 100%"}), c.literals);

  c = Compile(u"%msgtext");
  EXPECT_EQ((std::vector<T>{T::kMsg, T::kLiteral}), c.tokens);
  EXPECT_EQ((std::vector<WString>{u"text"}), c.literals);

  c = Compile(u"%Line%LINE%line%TiD%HostName");
  EXPECT_EQ((std::vector<T>{T::kLine, T::kLine, T::kLine, T::kTid, T::kHostName}), c.tokens);
  EXPECT_TRUE(c.literals.empty());

  EXPECT_EQ(CompiledFormat{}, Compile(u""));
}

TEST(CompileLayoutFormat, PercentThatStartsNoTokenIsText) {
  CompiledFormat c = Compile(u"%x%msg");
  EXPECT_EQ((std::vector<T>{T::kLiteral, T::kMsg}), c.tokens);
  EXPECT_EQ((std::vector<WString>{u"%x"}), c.literals);

  // "%%" escapes, so no token follows it.
  c = Compile(u"%%msg");
  EXPECT_EQ((std::vector<T>{T::kLiteral}), c.tokens);
  EXPECT_EQ((std::vector<WString>{u"%msg"}), c.literals);

  c = Compile(u"%%%msg");
  EXPECT_EQ((std::vector<T>{T::kLiteral, T::kMsg}), c.tokens);
  EXPECT_EQ((std::vector<WString>{u"%"}), c.literals);

  // A cut-off token name and a trailing "%" stay text.
  c = Compile(u"%hostnam 50%");
  EXPECT_EQ((std::vector<T>{T::kLiteral}), c.tokens);
  EXPECT_EQ((std::vector<WString>{u"%hostnam 50%"}), c.literals);
  EXPECT_EQ((std::vector<WString>{u"%"}), Compile(u"%").literals);
}

TEST(CompileLayoutFormat, BackslashNBecomesLineFeedInsideOneLiteral) {
  CompiledFormat c = Compile(u"a\\nb%msg\\n");
  EXPECT_EQ((std::vector<T>{T::kLiteral, T::kMsg, T::kLiteral}), c.tokens);
  EXPECT_EQ((std::vector<WString>{u"a\nb", u"\n"}), c.literals);

  // A "%%" between backslash and n leaves no backslash-n pair; a doubled
  // backslash keeps its first half.
  EXPECT_EQ((std::vector<WString>{u"\\%n"}), Compile(u"\\%%n").literals);
  EXPECT_EQ((std::vector<WString>{u"\\\n"}), Compile(u"\\\\n").literals);
  // The pair must lie within one literal run.
  c = Compile(u"\\%tidn");
  EXPECT_EQ((std::vector<WString>{u"\\", u"n"}), c.literals);
}

TEST(CustomLayout, RendersEveryTokenOfAKnownRecord) {
  LogRecord record = MakeRecord();
  record.revision = 0xFFFFFFFFu;
  record.product = 0x80000000u;
  record.revisionText = u"r9";  // never printed by %svnrev
  const WString& host = GetCachedHostName();

  EXPECT_EQ(
      u"app.net|WARN|" + host + u"|2019-03-07|08:05:09,042|main.cpp|12|3|-1|hello|-2147483648|4000000000|77",
      RenderWith(u"%logger|%severity|%hostname|%date|%time|%filename|%line|%buildnr|%svnrev|%msg|%product|%"
                 u"pid|%tid",
                 record));

  record.line = 0xFFFFFFFEu;
  record.buildNumber = 0x7FFFFFFFu;
  record.processId = 0;
  record.threadId = 0xFFFFFFFFu;
  EXPECT_EQ(u"-2 2147483647 0 4294967295", RenderWith(u"%line %buildnr %pid %tid", record));

  // Single-digit fields are zero-padded; nothing is converted to local time.
  record.time = TimeOf(1601, 1, 1, 0, 0, 0, 5);
  EXPECT_EQ(u"1601-01-01 00:00:00,005", RenderWith(u"%date %time", record));
  record.time = TimeOf(2024, 12, 31, 23, 59, 59, 999);
  EXPECT_EQ(u"2024-12-31T23:59:59,999", RenderWith(u"%dateT%time", record));
}

TEST(CustomLayout, RendersLiteralsAsCompiledAndUnnamedSeverityAsInfo) {
  LogRecord record = MakeRecord();
  EXPECT_EQ(u"", RenderWith(u"", record));
  EXPECT_EQ(u"100% %msg %xhello", RenderWith(u"100%% %%msg %x%msg", record));
  EXPECT_EQ(u"hello\nhello", RenderWith(u"%msg\\n%MSG", record));
  record.severity = kSeverityWarn + 1;
  EXPECT_EQ(u"INFO", RenderWith(u"%severity", record));
  record.severity = kSeverityDetail;
  EXPECT_EQ(u"DETAIL", RenderWith(u"%Severity", record));
}

TEST(CustomLayout, UnknownTimeRendersZeroFields) {
  LogRecord record = MakeRecord();
  record.time = ~FileTime{0};
  EXPECT_EQ(u"0000-00-00 00:00:00,000 hello", RenderWith(u"%date %time %msg", record));
}

TEST(CustomLayout, RenderReplacesOutAndReusesItsBuffer) {
  const auto layout = LayoutWithFormat(u"%date %time [%logger] %msg");
  LogRecord record = MakeRecord();
  WString out;
  ASSERT_RC(RC_OK, layout->Render(out, record));
  const char16_t* buffer = out.data();
  const std::size_t capacity = out.capacity();
  // The first render reserved enough for the line in one step.
  EXPECT_LE(out.size(), capacity);

  record.message = u"bye";
  ASSERT_RC(RC_OK, layout->Render(out, record));
  EXPECT_EQ(u"2019-03-07 08:05:09,042 [app.net] bye", out);
  EXPECT_EQ(buffer, out.data());
  EXPECT_EQ(capacity, out.capacity());
}

TEST(RebuildLayoutFormat, WritesNormalisedTextThatCompilesToTheSameTokens) {
  EXPECT_EQ(u"%date [%msg] 100%%", Rebuild(Compile(u"%DATE [%msg] 100%%")));
  EXPECT_EQ(u"%%x%msg", Rebuild(Compile(u"%x%Msg")));
  EXPECT_EQ(u"%msgText", Rebuild(Compile(u"%MsgText")));  // literal text keeps its case
  EXPECT_EQ(u"a\nb", Rebuild(Compile(u"a\\nb")));         // the line feed as it is
  EXPECT_EQ(u"", Rebuild(Compile(u"")));

  const WStringView formats[] = {
      u"%%%msg%",
      u"%x%%y%%%%%Tid",
      u"\\\\n%%n\\",
      u"%date %time %hostname %msg",
      u"%pid%tid%product%svnrev",
      u"%logger%severity%filename%line%buildnr 50% \\",
      u"%hostnam%e",
  };
  for (const WStringView format : formats) {
    const CompiledFormat compiled = Compile(format);
    const WString rebuilt = Rebuild(compiled);
    EXPECT_EQ(compiled, Compile(rebuilt)) << ToUtf8(format);
    EXPECT_EQ(rebuilt, Rebuild(Compile(rebuilt))) << ToUtf8(format);
  }
}

TEST(CustomLayout, LoadConfigRequiresCustomTypeAndFormat) {
  const auto layout = LayoutWithFormat(u"first %msg");
  const LogRecord record = MakeRecord();

  const WStringView rejected[] = {
      u"[L]\nFormat = %msg\n",                         // no type
      u"[L]\nLayoutType = Standard\nFormat = %msg\n",  // another kind
      u"[L]\nLayoutType = custom\nFormat = %msg\n",    // values are case-sensitive
      u"[L]\nLayoutType = Custom x\nFormat = %msg\n",  // the whole value counts
  };
  for (const WStringView text : rejected) {
    EXPECT_RC(RC_LAYOUT_TYPE_MISMATCH, layout->LoadConfig(*SectionFromText(text))) << ToUtf8(text);
  }
  EXPECT_RC(RC_ITEM_NOT_PRESENT,
            layout->LoadConfig(*SectionFromText(u"[L]\nLayoutType = Custom\nHeader = h\n")));

  // Every failure kept the whole previous configuration.
  WString out;
  ASSERT_RC(RC_OK, layout->Render(out, record));
  EXPECT_EQ(u"first hello", out);
  out.clear();
  EXPECT_RC(RC_OK, layout->GetHeader(out));
  EXPECT_EQ(u"", out);
}

TEST(CustomLayout, SecondLoadReplacesFormatHeaderAndFooter) {
  CustomLayout layout(u"L");
  ASSERT_RC(
      RC_OK,
      layout.LoadConfig(*SectionFromText(
          u"[L]\nLayoutType = Custom\nFormat = one %msg\nHeader = \"--- %msg \\\\n\"\nFooter = end\n")));
  WString header, footer;
  ASSERT_RC(RC_OK, layout.GetHeader(header));
  ASSERT_RC(RC_OK, layout.GetFooter(footer));
  EXPECT_EQ(u"--- %msg \\\\n", header);  // no tokens expanded, no line feed made
  EXPECT_EQ(u"end", footer);

  ASSERT_RC(RC_OK, layout.LoadConfig(*SectionFromText(u"[L]\nLayoutType = Custom\nFormat = two:%LINE\n")));
  WString out;
  ASSERT_RC(RC_OK, layout.Render(out, MakeRecord()));
  EXPECT_EQ(u"two:12", out);
  EXPECT_EQ(u"", layout.Header());
  EXPECT_EQ(u"", layout.Footer());
  // An empty header or footer leaves the caller's text alone.
  header = u"kept";
  ASSERT_RC(RC_OK, layout.GetHeader(header));
  EXPECT_EQ(u"kept", header);
}

TEST(CustomLayout, SavedSectionReadsBackThroughConfigurationText) {
  CustomLayout original(u"myLayout");
  ASSERT_RC(RC_OK, original.LoadConfig(
                       *SectionFromText(u"[myLayout]\nLayoutType = Custom\nFormat = \"%DATE [%Msg] "
                                        u"100%% %x\"\nHeader = \"Log start\"\nFooter = \"Log end; bye\"\n")));
  ConfigDocument document;
  ASSERT_RC(RC_OK, ExportLayoutSection(original, document));
  MemoryLineSink sink;
  ASSERT_RC(RC_OK, WriteDocument(document, sink));
  EXPECT_NE(WString::npos, sink.Text().find(u"Format = \"%date [%msg] 100%% %%x\""));

  ConfigDocument reread;
  MemoryLineSource source(sink.Text());
  ASSERT_RC(RC_OK, ParseDocument(reread, source));
  ConfigSectionRef section;
  ASSERT_RC(RC_OK, reread.FindSection(u"myLayout", &section));
  WString type;
  ASSERT_RC(RC_OK, section->GetValue(u"Type", &type));
  EXPECT_EQ(u"Layout", type);

  CustomLayout copy(u"myLayout");
  ASSERT_RC(RC_OK, copy.LoadConfig(*section));
  EXPECT_EQ(original.Compiled(), copy.Compiled());
  EXPECT_EQ(u"Log start", copy.Header());
  EXPECT_EQ(u"Log end; bye", copy.Footer());

  // Empty header and footer are not written at all.
  const auto bare = LayoutWithFormat(u"%msg");
  ConfigSectionRef saved;
  ASSERT_RC(RC_OK, ConfigSection::Create(u"L", &saved));
  ASSERT_RC(RC_OK, bare->SaveConfig(*saved));
  EXPECT_FALSE(saved->HasKey(u"Header"));
  EXPECT_FALSE(saved->HasKey(u"Footer"));
  EXPECT_EQ(3u, saved->Keys().size());
}

}  // namespace
}  // namespace zun
