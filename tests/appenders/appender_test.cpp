#include "appenders/appender.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "appenders/appender_factory.h"
#include "appenders/appender_fixtures.h"
#include "appenders/console_appender.h"
#include "appenders/file_appender.h"
#include "appenders/null_appender.h"
#include "appenders/standalone_owner.h"

namespace zun {
namespace {

using test::MakeLayout;
using test::MakeRecord;
using test::SectionFromText;

// An appender whose target is a list of events, with failures on demand.
class RecordingAppender : public Appender {
 public:
  explicit RecordingAppender(WStringView name = u"rec") : Appender(nullptr, WString(name)) {}

  std::vector<std::string> events;
  WString failWriteOf;  // a Write of exactly this text fails
  bool failWrite = false;

 protected:
  ResultCode Write(WStringView text) noexcept override {
    if (failWrite && text == failWriteOf) return RC_WRITE_FAULT;
    events.push_back("W:" + ToUtf8(text));
    return RC_OK;
  }
  ResultCode WriteRecord(const LogRecord& record, WStringView text) noexcept override {
    events.push_back("R:" + ToUtf8(record.message) + ":" + std::to_string(record.severity));
    return Appender::WriteRecord(record, text);
  }
  ResultCode OpenTarget() noexcept override {
    events.push_back("open");
    return RC_OK;
  }
  ResultCode CloseTarget() noexcept override {
    events.push_back("close");
    return RC_OK;
  }
};

using Events = std::vector<std::string>;

TEST(Appender, WithoutLayoutNothingIsOpenedOrWritten) {
  RecordingAppender appender;
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityFatal, u"lost")));
  EXPECT_FALSE(appender.IsOpened());
  EXPECT_TRUE(appender.events.empty());

  // Detaching the layout again silences an appender that was writing.
  auto layout = MakeLayout(u"Format = %msg\n");
  appender.AttachLayout(layout.get());
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"a")));
  appender.AttachLayout(nullptr);
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"b")));
  EXPECT_EQ((Events{"open", "R:a:200000", "W:a"}), appender.events);
}

TEST(Appender, HeaderKeyRecordLineAndFooterFrameEveryOpening) {
  auto layout = MakeLayout(u"Format = <%msg>\nHeader = head\nFooter = foot\n");
  RecordingAppender appender;
  appender.AttachLayout(layout.get());
  const SharedText key = std::make_shared<const WString>(u"KEY");

  ASSERT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"one", key)));
  ASSERT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"two", key)));
  EXPECT_TRUE(appender.IsOpened());
  ASSERT_RC(RC_OK, appender.Flush());
  EXPECT_FALSE(appender.IsOpened());
  ASSERT_RC(RC_OK, appender.Flush());  // closed already: nothing more
  // Reopened by a record without a key record line: header only.
  ASSERT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"three")));
  // A key record line arriving while opened is not written.
  ASSERT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"four", key)));
  ASSERT_RC(RC_OK, appender.Close());

  // Header and footer travel as empty records; the key record line is a
  // plain Write of its own.
  EXPECT_EQ((Events{"open",         "R::0",    "W:head",         "W:KEY",     "R:one:200000",  "W:<one>",
                    "R:two:200000", "W:<two>", "R::0",           "W:foot",    "close",         "open",
                    "R::0",         "W:head",  "R:three:200000", "W:<three>", "R:four:200000", "W:<four>",
                    "R::0",         "W:foot",  "close"}),
            appender.events);
}

TEST(Appender, BreakSeverityDropsLowerRecordsWithoutOpening) {
  auto layout = MakeLayout(u"Format = %msg\n");
  RecordingAppender appender;
  appender.AttachLayout(layout.get());
  EXPECT_EQ(kSeverityAll, appender.BreakSeverity());

  ASSERT_RC(RC_OK, appender.LoadConfig(*SectionFromText(u"[rec]\nBreakSeverity = wArN\n")));
  EXPECT_EQ(kSeverityWarn, appender.BreakSeverity());
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"info")));
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityWarn - 1, u"almost")));
  EXPECT_TRUE(appender.events.empty());
  EXPECT_FALSE(appender.IsOpened());
  for (const Severity s : {kSeverityWarn, kSeverityError, kSeverityFatal}) {
    EXPECT_RC(RC_OK, appender.Append(MakeRecord(s, u"m")));
  }
  EXPECT_EQ((Events{"open", "R:m:300000", "W:m", "R:m:400000", "W:m", "R:m:500000", "W:m"}), appender.events);

  // A name that is no severity means INFO; no key means every severity.
  ASSERT_RC(RC_OK, appender.LoadConfig(*SectionFromText(u"[rec]\nBreakSeverity = loud\n")));
  EXPECT_EQ(kSeverityInfo, appender.BreakSeverity());
  ASSERT_RC(RC_OK, appender.LoadConfig(*SectionFromText(u"[rec]\nOther = 1\n")));
  EXPECT_EQ(kSeverityAll, appender.BreakSeverity());
  appender.events.clear();
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityAll, u"lowest")));
  EXPECT_EQ((Events{"R:lowest:" + std::to_string(kSeverityAll), "W:lowest"}), appender.events);
}

TEST(Appender, FailedHeaderOrFooterLeavesTheAppenderOpened) {
  auto layout = MakeLayout(u"Format = %msg\nHeader = head\nFooter = foot\n");
  RecordingAppender appender;
  appender.AttachLayout(layout.get());
  appender.failWrite = true;
  appender.failWriteOf = u"head";
  // The record that caused the open is dropped, later ones are written.
  EXPECT_RC(RC_WRITE_FAULT, appender.Append(MakeRecord(kSeverityInfo, u"first")));
  EXPECT_TRUE(appender.IsOpened());
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"second")));

  appender.failWriteOf = u"foot";
  EXPECT_RC(RC_WRITE_FAULT, appender.Flush());
  EXPECT_TRUE(appender.IsOpened());
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"third")));
  appender.failWrite = false;
  EXPECT_RC(RC_OK, appender.Flush());
  EXPECT_FALSE(appender.IsOpened());
  EXPECT_EQ((Events{"open", "R::0", "R:second:200000", "W:second", "R::0", "R:third:200000", "W:third",
                    "R::0", "W:foot", "close"}),
            appender.events);
}

TEST(NullAppender, TakesEverythingAndChecksOnlyItsType) {
  std::unique_ptr<NullAppender> appender;
  ASSERT_RC(RC_OK, NullAppender::Create(nullptr, u"nothing", &appender));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, appender->LoadConfig(*SectionFromText(u"[nothing]\nType = Appender\n")));
  EXPECT_RC(RC_APPENDER_TYPE_MISMATCH,
            appender->LoadConfig(*SectionFromText(u"[nothing]\nAppenderType = Syslog\n")));
  // "BreakSeverity" is not read by a null appender.
  ASSERT_RC(RC_OK, appender->LoadConfig(
                       *SectionFromText(u"[nothing]\nAppenderType = Null\nBreakSeverity = ERROR\n")));
  EXPECT_EQ(kSeverityAll, appender->BreakSeverity());
  auto layout = MakeLayout(u"Format = %msg\nHeader = h\n");
  appender->AttachLayout(layout.get());
  EXPECT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"gone")));
  EXPECT_TRUE(appender->IsOpened());

  ConfigDocument document;
  ASSERT_RC(RC_OK, ExportAppenderSection(*appender, document));
  ConfigSectionRef saved;
  ASSERT_RC(RC_OK, document.FindSection(u"nothing", &saved));
  WString value;
  EXPECT_RC(RC_OK, saved->GetValue(u"AppenderType", &value));
  EXPECT_EQ(u"Null", value);
  EXPECT_RC(RC_OK, saved->GetValue(u"BreakSeverity", &value));
  EXPECT_EQ(u"ALL", value);
  EXPECT_RC(RC_OK, saved->GetValue(u"Type", &value));
  EXPECT_EQ(u"Appender", value);
  EXPECT_RC(RC_TABLE_ERROR_37, ExportAppenderSection(*appender, document));
}

TEST(AppenderFactory, BuildsTheClassOfEachTypeName) {
  StandaloneAppenderOwner owner;
  AppenderRef made;
  ASSERT_RC(RC_OK, CreateAppender(u"File", &owner, u"f", u"/logs", &made));
  ASSERT_NE(nullptr, dynamic_cast<FileAppender*>(made.get()));
  EXPECT_EQ(u"f", made->Name());
  EXPECT_EQ(&owner, made->Owner());
  EXPECT_EQ(u"/logs", static_cast<FileAppender*>(made.get())->LogDirectory());

  ASSERT_RC(RC_OK, CreateAppender(u"Console", &owner, u"c", u"", &made));
  EXPECT_NE(nullptr, dynamic_cast<ConsoleAppender*>(made.get()));
  ASSERT_RC(RC_OK, CreateAppender(u"Null", &owner, u"n", u"", &made));
  EXPECT_NE(nullptr, dynamic_cast<NullAppender*>(made.get()));

  // The two types built as a related class refuse their own section.
  ASSERT_RC(RC_OK, CreateAppender(u"SharedFile", &owner, u"s", u"/logs", &made));
  ASSERT_NE(nullptr, dynamic_cast<FileAppender*>(made.get()));
  EXPECT_RC(RC_APPENDER_TYPE_MISMATCH,
            made->LoadConfig(*SectionFromText(u"[s]\nAppenderType = SharedFile\nFileName = a.log\n")));
  ASSERT_RC(RC_OK, CreateAppender(u"Syslog", &owner, u"y", u"", &made));
  ASSERT_NE(nullptr, dynamic_cast<NullAppender*>(made.get()));
  EXPECT_RC(RC_APPENDER_TYPE_MISMATCH, made->LoadConfig(*SectionFromText(u"[y]\nAppenderType = Syslog\n")));

  made.reset();
  for (const WStringView type : {u"file", u"RollingFile", u"RollingDateFile", u"", u"Null "}) {
    EXPECT_RC(RC_APPENDER_NOT_FOUND, CreateAppender(type, &owner, u"x", u"", &made));
    EXPECT_EQ(nullptr, made);
  }
}

}  // namespace
}  // namespace zun
