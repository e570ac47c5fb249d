#include "appenders/layout.h"

#include "appenders/appender_fixtures.h"
#include "config/config_writer.h"
#include "platform/names.h"

namespace zun {
namespace {

using namespace std::string_view_literals;
using test::SectionFromText;

LogRecord KnownRecord() {
  LogRecord record;
  record.loggerName = u"app.net";
  record.severity = kSeverityWarn;
  record.message = u"hello";
  record.time = test::At(2019, 3, 7, 8, 5, 9, 42);
  record.fileId = u"main.cpp";
  record.line = 0xFFFFFFFEu;
  record.buildNumber = 0x7FFFFFFFu;
  record.revision = 0xFFFFFFFFu;
  record.product = 0x80000000u;
  record.threadId = 0xFFFFFFFFu;
  record.processId = 4000000000u;
  record.revisionText = u"r9";  // never printed by %svnrev
  return record;
}

// A custom layout named "L" with that format and, after it, further keys.
std::unique_ptr<CustomLayout> LayoutWithFormat(WStringView format, WStringView keys = {}) {
  WString quoted;
  EXPECT_RC(RC_OK, QuoteValue(format, &quoted));
  return test::MakeLayout(u"Format = " + quoted + u"\n" + WString(keys));
}

WString RenderWith(WStringView format, const LogRecord& record) {
  WString out = u"stale";
  EXPECT_RC(RC_OK, LayoutWithFormat(format)->Render(out, record));
  return out;
}

// Its line is the message line (records tests); here how it is made by its
// type name, checks its own type and saves it.
TEST(StandardLayout, IsMadeByItsExactTypeNameAndChecksAndSavesItsType) {
  LayoutRef layout, none;
  ASSERT_RC(RC_OK, CreateLayout(u"Standard", u"plain", &layout));
  ASSERT_NE(nullptr, dynamic_cast<StandardLayout*>(layout.get()));
  EXPECT_RC(RC_LAYOUT_NOT_FOUND, CreateLayout(u"standard", u"b", &none));
  EXPECT_EQ(nullptr, none);
  EXPECT_RC(RC_OK, layout->LoadConfig(*SectionFromText(u"[std]\nType = Layout\n")));
  EXPECT_RC(RC_LAYOUT_TYPE_MISMATCH, layout->LoadConfig(*SectionFromText(u"[std]\nLayoutType = Custom\n")));
  ConfigDocument document;
  ASSERT_RC(RC_OK, ExportLayoutSection(*layout, document));
  const ConfigSectionRef section = document.Sections().at(u"plain");
  EXPECT_EQ("LayoutType=Standard Type=Layout", test::KeysText(*section));
  EXPECT_RC(RC_OK, layout->LoadConfig(*section));
}

TEST(RewriteFwLayoutSection, GivesTheCustomLayoutWithTheFixedFormat) {
  ConfigSectionRef section = SectionFromText(u"[fw]\nType = Layout\nLayoutType = Fw\nHeader = top\n");
  ASSERT_RC(RC_OK, RewriteFwLayoutSection(*section));
  LayoutRef layout;
  ASSERT_RC(RC_OK, CreateLayout(u"Custom", section->Name(), &layout));
  ASSERT_RC(RC_OK, layout->LoadConfig(*section));
  WString out;
  ASSERT_RC(RC_OK, layout->Render(out, KnownRecord()));
  EXPECT_EQ(u"2019-03-07 08:05:09,042 " + GetCachedHostName() + u" hello", out);
  ASSERT_RC(RC_OK, layout->GetHeader(out));
  EXPECT_EQ(u"top", out);
}

TEST(CustomLayout, CompilesAndRendersEveryTokenPercentsAndLineFeeds) {
  const std::pair<WStringView, WString> cases[] = {
      {u"", u""},
      {u"%DATE [%msg] 100%%", u"2019-03-07 [hello] 100%"},
      {u"%msgtext", u"hellotext"},
      {u"%Line%LINE%line%TiD%HostName", u"-2-2-24294967295" + GetCachedHostName()},
      {u"%logger|%severity|%date|%time|%filename|%buildnr|%svnrev|%msg|%product|%pid",
       u"app.net|WARN|2019-03-07|08:05:09,042|main.cpp|2147483647|-1|hello|-2147483648|4000000000"},
      {u"%x%msg", u"%xhello"},  // a "%" that starts no token is text
      {u"%%msg", u"%msg"},
      {u"%hostnam 50%", u"%hostnam 50%"},
      {u"a\\nb%msg\\n", u"a\nbhello\n"},
      // No backslash-n pair across "%%" or a token; a doubled backslash keeps its first half.
      {u"\\%%n", u"\\%n"},
      {u"\\%tidn", u"\\4294967295n"},
      {u"\\\\n", u"\\\n"},
      // A zero read from the configuration ends the format.
      {u"x%msg\0%line"sv, u"xhello"}};
  for (const auto& [format, expected] : cases)
    EXPECT_EQ(expected, RenderWith(format, KnownRecord())) << ToUtf8(format);
  LogRecord record = KnownRecord();
  record.time = ~FileTime{0};
  EXPECT_EQ(u"0000-00-00 00:00:00,000 hello", RenderWith(u"%date %time %msg", record));
}

TEST(CustomLayout, LoadConfigReplacesEverythingOrNothing) {
  CustomLayout layout(u"L");
  ASSERT_RC(
      RC_OK,
      layout.LoadConfig(*SectionFromText(
          u"[L]\nLayoutType = Custom\nFormat = one %msg\nHeader = \"--- %msg \\\\n\"\nFooter = end\0x\n"sv)));
  WString out;
  ASSERT_RC(RC_OK, layout.Render(out, KnownRecord()));
  const char16_t* buffer = out.data();
  for (const WStringView text : {u"[L]\nFormat = %msg\n", u"[L]\nLayoutType = custom\nFormat = %msg\n"}) {
    EXPECT_RC(RC_LAYOUT_TYPE_MISMATCH, layout.LoadConfig(*SectionFromText(text))) << ToUtf8(text);
  }
  EXPECT_RC(RC_ITEM_NOT_PRESENT,
            layout.LoadConfig(*SectionFromText(u"[L]\nLayoutType = Custom\nHeader = h\n")));
  ASSERT_RC(RC_OK, layout.Render(out, KnownRecord()));
  EXPECT_EQ(u"one hello", out);
  EXPECT_EQ(buffer, out.data());                  // the caller's buffer is reused, not reallocated
  EXPECT_EQ(u"--- %msg \\\\n", layout.Header());  // no tokens expanded, no line feed made
  EXPECT_EQ(u"end", layout.Footer());
}

// The saved format is normalised text that compiles to the same tokens, and
// the saved section reads back through configuration text.
TEST(CustomLayout, SavedSectionIsNormalisedAndReadsBackThroughConfigurationText) {
  const auto save = [](WStringView format, WStringView keys = {}) {
    const auto original = LayoutWithFormat(format, keys);
    ConfigDocument document;
    MemoryLineSink sink;
    EXPECT_RC(RC_OK, ExportLayoutSection(*original, document));
    EXPECT_RC(RC_OK, WriteDocument(document, sink));
    CustomLayout copy(u"L");
    EXPECT_RC(RC_OK, copy.LoadConfig(*SectionFromText(sink.Text())));
    EXPECT_EQ(original->Compiled(), copy.Compiled()) << ToUtf8(format);
    EXPECT_EQ(original->Header() + u"|" + original->Footer(), copy.Header() + u"|" + copy.Footer());
    WString rebuilt;
    EXPECT_RC(RC_OK, RebuildLayoutFormat(original->Compiled(), &rebuilt));
    return rebuilt;
  };
  EXPECT_EQ(u"%date [%msg] 100%%",
            save(u"%DATE [%msg] 100%%", u"Header = \"Log start\"\nFooter = \"Log end; bye\"\n"));
  EXPECT_EQ(u"%%x%msg", save(u"%x%Msg"));
  EXPECT_EQ(u"%msgText", save(u"%MsgText"));  // literal text keeps its case
  EXPECT_EQ(u"a\\nb", save(u"a\\nb"));        // configuration text holds no line feed
  for (const WStringView format : {u"%%%msg%", u"%x%%y%%%%%Tid", u"\\\\n%%n\\", u"%pid%tid%product%svnrev",
                                   u"%logger%severity%filename%line%buildnr_50%\\", u"%hostnam%e"}) {
    save(format);
  }
}

}  // namespace
}  // namespace zun
