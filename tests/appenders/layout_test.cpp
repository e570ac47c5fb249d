#include "appenders/layout.h"

#include <gtest/gtest.h>

#include "appenders/custom_layout.h"
#include "appenders/standard_layout.h"
#include "config/config_reader.h"
#include "core/log_record.h"
#include "platform/clock.h"
#include "platform/names.h"
#include "support/test_support.h"

namespace zun {
namespace {

LogRecord MakeRecord() {
  LogRecord record;
  record.loggerName = u"root";
  record.severity = kSeverityError;
  record.message = u"disk full";
  EXPECT_EQ(0u, CalendarToFileTime({2019, 3, 7, 8, 5, 9, 42, 0}, &record.time));
  record.fileId = u"main";
  record.line = 12;
  record.buildNumber = 3;
  record.revision = 4;
  record.product = 5;
  record.threadId = 21;
  record.processId = 20;
  return record;
}

ConfigSectionRef SectionFromText(WStringView text) {
  ConfigDocument document;
  MemoryLineSource source(text);
  EXPECT_RC(RC_OK, ParseDocument(document, source));
  ConfigSectionRef section;
  ConfigSectionEnumerator sections = document.EnumerateSections();
  EXPECT_RC(RC_OK, sections.Current(&section));
  return section;
}

WString ValueOf(const ConfigSection& section, WStringView key) {
  WString value;
  EXPECT_RC(RC_OK, section.GetValue(key, &value)) << ToUtf8(key);
  return value;
}

TEST(StandardLayout, RendersTheStandardMessageLineByteForByte) {
  StandardLayout layout(u"std");
  LogRecord variants[4] = {MakeRecord(), MakeRecord(), MakeRecord(), MakeRecord()};
  variants[1].revisionText = u"r9";
  variants[2].message.clear();
  variants[2].fileId.clear();
  variants[3].message.assign(3000, u'x');
  variants[3].severity = 12345;
  variants[3].line = 0xFFFFFFFFu;

  WString out = u"previous line that must go";
  for (const LogRecord& record : variants) {
    WString expected;
    ASSERT_RC(RC_OK, FormatMessageLine(record, expected));
    ASSERT_RC(RC_OK, layout.Render(out, record));
    EXPECT_EQ(expected, out);
  }
  EXPECT_EQ(u"[root] ERROR 2019-03-07 08:05:09,042 " + GetCachedHostName() +
                u" PID:20 THID:21 ID:main:12.3.4.5 MSG:disk full",
            (layout.Render(out, variants[0]), out));
}

TEST(StandardLayout, UnconvertibleTimeFailsWithAnEmptyLine) {
  StandardLayout layout(u"std");
  LogRecord record = MakeRecord();
  record.time = ~FileTime{0};
  WString out = u"old";
  EXPECT_RC(RC_INVALID_TIME, layout.Render(out, record));
  EXPECT_EQ(u"", out);
}

TEST(StandardLayout, LayoutTypeMayBeAbsentButNotAnotherKind) {
  StandardLayout layout(u"std");
  EXPECT_RC(RC_OK, layout.LoadConfig(*SectionFromText(u"[std]\nType = Layout\n")));
  EXPECT_RC(RC_OK, layout.LoadConfig(*SectionFromText(u"[std]\nLayoutType = Standard\n")));
  EXPECT_RC(RC_LAYOUT_TYPE_MISMATCH, layout.LoadConfig(*SectionFromText(u"[std]\nLayoutType = Custom\n")));
  EXPECT_RC(RC_LAYOUT_TYPE_MISMATCH, layout.LoadConfig(*SectionFromText(u"[std]\nLayoutType = standard\n")));
  EXPECT_RC(RC_LAYOUT_TYPE_MISMATCH, layout.LoadConfig(*SectionFromText(u"[std]\nLayoutType =\n")));
}

TEST(StandardLayout, HasNeitherHeaderNorFooterAndSavesItsType) {
  StandardLayout layout(u"plain");
  WString text = u"untouched";
  EXPECT_RC(RC_OK, layout.GetHeader(text));
  EXPECT_RC(RC_OK, layout.GetFooter(text));
  EXPECT_EQ(u"untouched", text);

  ConfigDocument document;
  ASSERT_RC(RC_OK, ExportLayoutSection(layout, document));
  ConfigSectionRef section;
  ASSERT_RC(RC_OK, document.FindSection(u"plain", &section));
  EXPECT_EQ(2u, section->Keys().size());
  EXPECT_EQ(u"Layout", ValueOf(*section, u"Type"));
  EXPECT_EQ(u"Standard", ValueOf(*section, u"LayoutType"));
  // A second layout of the same name cannot be exported into that document.
  EXPECT_RC(RC_TABLE_ERROR_37, ExportLayoutSection(StandardLayout(u"plain"), document));

  // The saved section configures a new standard layout again.
  StandardLayout copy(u"plain");
  EXPECT_RC(RC_OK, copy.LoadConfig(*section));
}

TEST(CreateLayout, MakesTheKindTheTypeNames) {
  LayoutRef layout;
  ASSERT_RC(RC_OK, CreateLayout(u"Standard", u"a", &layout));
  EXPECT_NE(nullptr, dynamic_cast<StandardLayout*>(layout.get()));
  EXPECT_EQ(u"a", layout->Name());

  ASSERT_RC(RC_OK, CreateLayout(u"Custom", u"", &layout));
  auto* custom = dynamic_cast<CustomLayout*>(layout.get());
  ASSERT_NE(nullptr, custom);
  EXPECT_EQ(u"", layout->Name());
  // Unconfigured, it renders nothing and has no header.
  WString out = u"x";
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
  EXPECT_EQ(u"Custom", ValueOf(*section, u"LayoutType"));
  EXPECT_EQ(kFwLayoutFormat, ValueOf(*section, u"Format"));

  LayoutRef layout;
  ASSERT_RC(RC_OK, CreateLayout(ValueOf(*section, u"LayoutType"), section->Name(), &layout));
  ASSERT_RC(RC_OK, layout->LoadConfig(*section));
  WString out;
  ASSERT_RC(RC_OK, layout->Render(out, MakeRecord()));
  EXPECT_EQ(u"2019-03-07 08:05:09,042 " + GetCachedHostName() + u" disk full", out);
  ASSERT_RC(RC_OK, layout->GetHeader(out));
  EXPECT_EQ(u"top", out);

  // A section with its own format is refused and left as it was.
  section = SectionFromText(u"[fw]\nLayoutType = Fw\nFormat = %msg\n");
  EXPECT_RC(RC_TABLE_ERROR_36, RewriteFwLayoutSection(*section));
  EXPECT_EQ(u"Fw", ValueOf(*section, u"LayoutType"));
  EXPECT_EQ(u"%msg", ValueOf(*section, u"Format"));
}

}  // namespace
}  // namespace zun
