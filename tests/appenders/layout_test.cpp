#include "appenders/layout.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "appenders/custom_layout.h"
#include "appenders/standard_layout.h"
#include "config/config_reader.h"
#include "config/config_writer.h"
#include "platform/clock.h"
#include "platform/names.h"
#include "records/log_record.h"
#include "records/severity.h"
#include "support/test_support.h"

namespace zun {
namespace {

using namespace std::string_view_literals;

LogRecord MakeRecord() {
  LogRecord record;
  record.loggerName = u"app.net";
  record.severity = kSeverityWarn;
  record.message = u"hello";
  EXPECT_EQ(0u, CalendarToFileTime({2019, 3, 7, 8, 5, 9, 42, 0}, &record.time));
  record.fileId = u"main.cpp";
  record.line = 12;
  record.buildNumber = 3;
  record.revision = 4;
  record.product = 5;
  record.threadId = 77;
  record.processId = 4000000000u;
  return record;
}

// The first section of configuration text, read as the reader reads files.
ConfigSectionRef SectionFromText(WStringView text) {
  ConfigDocument document;
  MemoryLineSource source(text);
  EXPECT_RC(RC_OK, ParseDocument(document, source));
  EXPECT_TRUE(document.Errors().empty());
  return document.Sections().empty() ? std::make_shared<ConfigSection>()
                                     : document.Sections().begin()->second;
}

WString ValueOf(const ConfigSection& section, WStringView key) {
  WString value;
  EXPECT_RC(RC_OK, section.GetValue(key, &value)) << ToUtf8(key);
  return value;
}

// A custom layout named "L" with that format and, after it, further keys.
std::unique_ptr<CustomLayout> LayoutWithFormat(WStringView format, WStringView keys = {}) {
  WString quoted;
  EXPECT_RC(RC_OK, QuoteValue(format, &quoted));
  auto layout = std::make_unique<CustomLayout>(u"L");
  EXPECT_RC(RC_OK, layout->LoadConfig(*SectionFromText(u"[L]\nLayoutType = Custom\nFormat = " + quoted +
                                                       u"\n" + WString(keys))));
  return layout;
}

WString RenderWith(WStringView format, const LogRecord& record) {
  WString out = u"stale";
  EXPECT_RC(RC_OK, LayoutWithFormat(format)->Render(out, record));
  return out;
}

TEST(StandardLayout, RendersTheStandardMessageLineAndChecksAndSavesItsType) {
  // The line's own cases are the message line's (records tests).
  StandardLayout layout(u"plain");
  LogRecord record = MakeRecord();
  record.message.assign(3000, u'x');
  WString expected, out = u"previous line that must go";
  ASSERT_RC(RC_OK, FormatMessageLine(record, expected));
  ASSERT_RC(RC_OK, layout.Render(out, record));
  EXPECT_EQ(expected, out);
  record.time = ~FileTime{0};
  EXPECT_RC(RC_INVALID_TIME, layout.Render(out, record));
  EXPECT_EQ(u"", out);
  WString text = u"untouched";
  EXPECT_RC(RC_OK, layout.GetHeader(text));
  EXPECT_RC(RC_OK, layout.GetFooter(text));
  EXPECT_EQ(u"untouched", text);

  EXPECT_RC(RC_OK, layout.LoadConfig(*SectionFromText(u"[std]\nType = Layout\n")));
  for (const WStringView type : {u"Custom", u"standard", u""}) {
    EXPECT_RC(RC_LAYOUT_TYPE_MISMATCH,
              layout.LoadConfig(*SectionFromText(u"[std]\nLayoutType = " + WString(type) + u"\n")));
  }
  ConfigDocument document;
  ASSERT_RC(RC_OK, ExportLayoutSection(layout, document));
  const ConfigSectionRef section = document.Sections().at(u"plain");
  EXPECT_EQ(2u, section->Keys().size());
  EXPECT_EQ(u"Layout", ValueOf(*section, u"Type"));
  EXPECT_EQ(u"Standard", ValueOf(*section, u"LayoutType"));
  EXPECT_RC(RC_OK, layout.LoadConfig(*section));
}

TEST(CreateLayout, MakesTheKindTheTypeNames) {
  LayoutRef layout;
  ASSERT_RC(RC_OK, CreateLayout(u"Standard", u"a", &layout));
  EXPECT_NE(nullptr, dynamic_cast<StandardLayout*>(layout.get()));
  ASSERT_RC(RC_OK, CreateLayout(u"Custom", u"", &layout));
  ASSERT_NE(nullptr, dynamic_cast<CustomLayout*>(layout.get()));
  WString out = u"x";  // unconfigured, it renders nothing
  EXPECT_RC(RC_OK, layout->Render(out, MakeRecord()));
  EXPECT_EQ(u"", out);
  for (const WStringView type : {u"Fw", u"custom", u"", u"Standard "}) {
    LayoutRef none;
    EXPECT_RC(RC_LAYOUT_NOT_FOUND, CreateLayout(type, u"b", &none)) << ToUtf8(type);
    EXPECT_EQ(nullptr, none);
  }
}

TEST(RewriteFwLayoutSection, GivesTheCustomLayoutWithTheFixedFormat) {
  ConfigSectionRef section = SectionFromText(u"[fw]\nType = Layout\nLayoutType = Fw\nHeader = top\n");
  ASSERT_RC(RC_OK, RewriteFwLayoutSection(*section));
  LayoutRef layout;
  ASSERT_RC(RC_OK, CreateLayout(ValueOf(*section, u"LayoutType"), section->Name(), &layout));
  ASSERT_RC(RC_OK, layout->LoadConfig(*section));
  WString out;
  ASSERT_RC(RC_OK, layout->Render(out, MakeRecord()));
  EXPECT_EQ(u"2019-03-07 08:05:09,042 " + GetCachedHostName() + u" hello", out);
  ASSERT_RC(RC_OK, layout->GetHeader(out));
  EXPECT_EQ(u"top", out);

  // A section with its own format is refused and left as it was.
  section = SectionFromText(u"[fw]\nLayoutType = Fw\nFormat = %msg\n");
  EXPECT_RC(RC_TABLE_ERROR_36, RewriteFwLayoutSection(*section));
  EXPECT_EQ(u"Fw", ValueOf(*section, u"LayoutType"));
  EXPECT_EQ(u"%msg", ValueOf(*section, u"Format"));
}

TEST(CustomLayout, CompilesTokensPercentsAndLineFeeds) {
  const std::pair<WStringView, WString> cases[] = {
      {u"", u""},
      {u"%DATE [%msg] 100%%", u"2019-03-07 [hello] 100%"},
      {u"%msgtext", u"hellotext"},
      {u"%Line%LINE%line%TiD%HostName", u"12121277" + GetCachedHostName()},
      {u"%x%msg", u"%xhello"},  // a "%" that starts no token is text
      {u"%%msg", u"%msg"},
      {u"%%%msg", u"%hello"},
      {u"%hostnam 50%", u"%hostnam 50%"},
      {u"a\\nb%msg\\n", u"a\nbhello\n"},
      // No backslash-n pair across "%%" or a token; a doubled backslash keeps its first half.
      {u"\\%%n", u"\\%n"},
      {u"\\%tidn", u"\\77n"},
      {u"\\\\n", u"\\\n"},
      // A zero read from the configuration ends the format.
      {u"x%msg\0%line"sv, u"xhello"}};
  for (const auto& [format, expected] : cases)
    EXPECT_EQ(expected, RenderWith(format, MakeRecord())) << ToUtf8(format);
}

TEST(CustomLayout, RendersEveryTokenOfAKnownRecord) {
  LogRecord record = MakeRecord();
  record.line = 0xFFFFFFFEu;
  record.buildNumber = 0x7FFFFFFFu;
  record.revision = 0xFFFFFFFFu;
  record.product = 0x80000000u;
  record.threadId = 0xFFFFFFFFu;
  record.revisionText = u"r9";  // never printed by %svnrev
  EXPECT_EQ(
      u"app.net|WARN|" + GetCachedHostName() +
          u"|2019-03-07|08:05:09,042|main.cpp|-2|2147483647|-1|hello|-2147483648|4000000000|4294967295",
      RenderWith(u"%logger|%severity|%hostname|%date|%time|%filename|%line|%buildnr|%svnrev|%msg|%product|%"
                 u"pid|%tid",
                 record));
  record.severity = kSeverityWarn + 1;
  EXPECT_EQ(u"INFO", RenderWith(u"%severity", record));
  record.severity = kSeverityDetail;
  EXPECT_EQ(u"DETAIL", RenderWith(u"%Severity", record));
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
  ASSERT_RC(RC_OK, layout.Render(out, MakeRecord()));
  const char16_t* buffer = out.data();
  for (const WStringView text :
       {u"[L]\nFormat = %msg\n", u"[L]\nLayoutType = Standard\nFormat = %msg\n",
        u"[L]\nLayoutType = custom\nFormat = %msg\n", u"[L]\nLayoutType = Custom x\nFormat = %msg\n"}) {
    EXPECT_RC(RC_LAYOUT_TYPE_MISMATCH, layout.LoadConfig(*SectionFromText(text))) << ToUtf8(text);
  }
  EXPECT_RC(RC_ITEM_NOT_PRESENT,
            layout.LoadConfig(*SectionFromText(u"[L]\nLayoutType = Custom\nHeader = h\n")));
  ASSERT_RC(RC_OK, layout.Render(out, MakeRecord()));
  EXPECT_EQ(u"one hello", out);
  EXPECT_EQ(buffer, out.data());                  // the caller's buffer is reused, not reallocated
  EXPECT_EQ(u"--- %msg \\\\n", layout.Header());  // no tokens expanded, no line feed made
  EXPECT_EQ(u"end", layout.Footer());

  ASSERT_RC(RC_OK, layout.LoadConfig(*SectionFromText(u"[L]\nLayoutType = Custom\nFormat = two:%LINE\n")));
  ASSERT_RC(RC_OK, layout.Render(out, MakeRecord()));
  EXPECT_EQ(u"two:12", out);
  WString header = u"kept";  // an empty header or footer leaves the caller's text alone
  ASSERT_RC(RC_OK, layout.GetHeader(header));
  ASSERT_RC(RC_OK, layout.GetFooter(header));
  EXPECT_EQ(u"kept", header);
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
  EXPECT_EQ(u"", save(u""));
  for (const WStringView format : {u"%%%msg%", u"%x%%y%%%%%Tid", u"\\\\n%%n\\", u"%pid%tid%product%svnrev",
                                   u"%logger%severity%filename%line%buildnr_50%\\", u"%hostnam%e"}) {
    save(format);
  }

  // Empty header and footer are not written at all.
  ConfigSectionRef saved = std::make_shared<ConfigSection>();
  ASSERT_RC(RC_OK, LayoutWithFormat(u"%msg")->SaveConfig(*saved));
  EXPECT_EQ(3u, saved->Keys().size());
}

}  // namespace
}  // namespace zun
