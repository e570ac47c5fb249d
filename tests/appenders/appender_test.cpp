#include "appenders/appender.h"

#include <signal.h>

#include "appenders/appender_factory.h"
#include "appenders/appender_fixtures.h"
#include "appenders/console_appender.h"
#include "appenders/null_appender.h"
#include "appenders/rolling_date_file_appender.h"
#include "appenders/rolling_file_appender.h"
#include "appenders/standalone_owner.h"

namespace zun {
namespace {

using test::MakeLayout;
using test::MakeRecord;
using test::SectionFromText;
using Events = std::vector<std::string>;

// An appender whose target is a list of events; a Write of `failWriteOf` fails.
class RecordingAppender : public Appender {
 public:
  RecordingAppender() : Appender(nullptr, u"rec") {}
  Events events;
  WString failWriteOf = u"\u0001";

 protected:
  ResultCode Write(WStringView text) noexcept override {
    if (text == failWriteOf) return RC_WRITE_FAULT;
    events.push_back(ToUtf8(text));
    return RC_OK;
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

// Records never reach a target without the header and key record line of
// its opening; a failed footer keeps the target open.
TEST(Appender, FailedHeaderOrKeyLineFailsTheOpeningAndAFailedFooterKeepsItOpen) {
  auto layout = MakeLayout(u"Format = %msg\nHeader = head\nFooter = foot\n");
  RecordingAppender appender;
  appender.AttachLayout(layout.get());
  const SharedText key = std::make_shared<const WString>(u"key");
  for (const char16_t* failing : {u"head", u"key"}) {
    appender.failWriteOf = failing;
    EXPECT_RC(RC_WRITE_FAULT, appender.Append(MakeRecord(kSeverityInfo, u"lost", key)));
    EXPECT_FALSE(appender.IsOpened());
  }
  appender.failWriteOf = u"\u0001";
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"first", key)));
  appender.failWriteOf = u"foot";
  EXPECT_RC(RC_WRITE_FAULT, appender.Flush());
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"second", key)));
  appender.failWriteOf = u"\u0001";
  EXPECT_RC(RC_OK, appender.Flush());
  EXPECT_FALSE(appender.IsOpened());
  EXPECT_EQ((Events{"open", "close", "open", "head", "close", "open", "head", "key", "first", "second",
                    "foot", "close"}),
            appender.events);
}

TEST(AppenderFactory, BuildsTheClassOfEachTypeNameWhichChecksItsOwnType) {
  StandaloneAppenderOwner owner;
  AppenderRef made;
  ASSERT_RC(RC_OK, CreateAppender(u"File", &owner, u"f", u"/logs", &made));
  EXPECT_EQ(u"/logs", dynamic_cast<FileAppender&>(*made).LogDirectory());
  ASSERT_RC(RC_OK, CreateAppender(u"Console", &owner, u"c", u"", &made));
  EXPECT_NE(nullptr, dynamic_cast<ConsoleAppender*>(made.get()));
  ASSERT_RC(RC_OK, CreateAppender(u"Null", &owner, u"n", u"", &made));
  ASSERT_RC(RC_OK, made->LoadConfig(*SectionFromText(u"[n]\nAppenderType = Null\n")));
  // Types built as a related class refuse their own section.
  for (const WStringView type : {u"SharedFile", u"Syslog"}) {
    ASSERT_RC(RC_OK, CreateAppender(type, &owner, u"s", u"/logs", &made));
    EXPECT_RC(RC_APPENDER_TYPE_MISMATCH,
              made->LoadConfig(*SectionFromText(u"[s]\nFileName = a.log\nAppenderType = " + WString(type))));
  }
  ASSERT_RC(RC_OK, CreateAppender(u"RollingFile", &owner, u"r", u"/logs", &made));
  EXPECT_EQ(u"/logs", dynamic_cast<RollingFileAppender&>(*made).LogDirectory());
  ASSERT_RC(RC_OK, CreateAppender(u"RollingDateFile", &owner, u"d", u"/logs", &made));
  EXPECT_EQ(u"/logs", dynamic_cast<RollingDateFileAppender&>(*made).LogDirectory());
  EXPECT_RC(RC_APPENDER_NOT_FOUND, CreateAppender(u"file", &owner, u"x", u"", &made));
  EXPECT_RC(RC_APPENDER_NOT_FOUND, CreateAppender(u"rollingFile", &owner, u"x", u"", &made));
}

class ConsoleAppenderTest : public test::TempDirTest {};

// In a child process: UTF-8 lines ended by LF on the chosen stream; then a
// pipe without a reader gives the converted code and no signal, and without
// standard streams lines are lost silently.
TEST_F(ConsoleAppenderTest, LinesReachTheChosenStreamAndAMissingStreamFailsNothing) {
  auto layout = MakeLayout(u"Format = %severity %msg\nHeader = head\nFooter = foot\n");
  const auto make = [&](const char16_t* target) {
    std::unique_ptr<ConsoleAppender> appender;
    EXPECT_RC(RC_OK, ConsoleAppender::Create(nullptr, u"con", &appender));
    EXPECT_RC(RC_OK, appender->LoadConfig(*SectionFromText(u"[con]\nAppenderType = Console\nTarget = " +
                                                           WString(target) + u"\n")));
    appender->AttachLayout(layout.get());
    return appender;
  };
  EXPECT_TRUE(make(u"system.out")->UsesStandardError()) << "only System.out, exactly, means standard output";
  auto out = make(u"System.out");
  auto err = make(u"System.err");
  const WString longText(100000, u'\u00e9');
  test::ExpectChildExitsZero([&] {
    dup2(open(PathOf("out.txt").c_str(), O_WRONLY | O_CREAT, 0600), STDOUT_FILENO);
    dup2(open(PathOf("err.txt").c_str(), O_WRONLY | O_CREAT, 0600), STDERR_FILENO);
    const auto key = std::make_shared<const WString>(u"K");
    if (out->Append(MakeRecord(kSeverityInfo, u"gr\u00fc\u00df", key)) != RC_OK ||
        out->Append(MakeRecord(kSeverityWarn, longText)) != RC_OK || out->Flush() != RC_OK ||
        err->Append(MakeRecord(kSeverityError, u"")) != RC_OK) {
      return 1;
    }
    signal(SIGPIPE, SIG_DFL);
    int pipeFds[2];
    if (pipe(pipeFds) != 0 || dup2(pipeFds[1], STDOUT_FILENO) != STDOUT_FILENO) return 2;
    close(pipeFds[0]);
    if (out->Append(MakeRecord(kSeverityInfo, u"no reader")) != ResultFromErrno(EPIPE)) return 3;
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE)) return 4;
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
    return out->Append(MakeRecord(kSeverityInfo, u"nowhere")) == RC_OK ? 0 : 5;
  });
  std::string longBytes;
  for (int i = 0; i < 100000; ++i) longBytes += "\xC3\xA9";
  EXPECT_EQ("head\nK\nINFO gr\xC3\xBC\xC3\x9F\nWARN " + longBytes + "\nfoot\n",
            test::ReadFileBytes(PathOf("out.txt")));
  EXPECT_EQ("head\nERROR \n", test::ReadFileBytes(PathOf("err.txt")));
}

}  // namespace
}  // namespace zun
