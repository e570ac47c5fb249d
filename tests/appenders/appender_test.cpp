#include "appenders/appender.h"

#include <signal.h>

#include "appenders/appender_factory.h"
#include "appenders/appender_fixtures.h"
#include "appenders/console_appender.h"
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
    return text == failWriteOf ? RC_WRITE_FAULT : Note(ToUtf8(text));
  }
  ResultCode OpenTarget() noexcept override { return Note("open"); }
  ResultCode CloseTarget() noexcept override { return Note("close"); }

 private:
  ResultCode Note(std::string event) {
    events.push_back(std::move(event));
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
  }
  appender.failWriteOf = u"\u0001";
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"first", key)));
  appender.failWriteOf = u"foot";
  EXPECT_RC(RC_WRITE_FAULT, appender.Flush());
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, u"second", key)));
  appender.failWriteOf = u"\u0001";
  EXPECT_RC(RC_OK, appender.Flush());
  EXPECT_EQ((Events{"open", "close", "open", "head", "close", "open", "head", "key", "first", "second",
                    "foot", "close"}),
            appender.events);
}

// Each type's keys: the code a load gives, and what the saved section then
// holds besides "Type=Appender", "BreakSeverity=ALL", "ImmediateWrite=false"
// and the file name "a" in the log folder. Type names match exactly.
TEST(AppenderConfiguration, KeysGiveTheirCodesAndSaveBackWhatWasStored) {
  const struct {
    WStringView type, keys;
    ResultCode rc;
    const char* saved;
  } kCases[] = {
      {u"File", u"FileName = a", RC_ITEM_NOT_PRESENT, "AppenderType=File"},
      {u"File", u"AppenderType = file\nFileName = a", RC_APPENDER_TYPE_MISMATCH, "AppenderType=File"},
      {u"File", u"AppenderType = File\nFileName = a\nImmediateWrite = True", RC_OK, "AppenderType=File"},
      {u"File",
       u"AppenderType = File\nFileName = /x/b\nImmediateWrite = yes\nBreakSeverity = wArN\nEscapeLineBreaks "
       u"= 1",
       RC_OK, "AppenderType=File BreakSeverity=WARN EscapeLineBreaks=true FileName=/x/b ImmediateWrite=true"},
      {u"Console", u"AppenderType = Console\nTarget = system.out", RC_OK,
       "AppenderType=Console Target=System.err"},
      {u"file", u"", RC_APPENDER_NOT_FOUND, ""},
      {u"RollingFile", u"AppenderType = RollingFile\nSize = 0x400\nFilesCount = 3 backups\nFileName = a",
       RC_OK, "AppenderType=RollingFile FilesCount=3 Size=1024"},
      {u"RollingFile", u"Size = -5\nFilesCount = 3\nFileName = a", RC_INVALID_PARAMETER,
       "AppenderType=RollingFile FilesCount=10 Size=1048576"},
      {u"RollingFile", u"Size = 7\nFilesCount = -3\nFileName = a", RC_INVALID_PARAMETER,
       "AppenderType=RollingFile FilesCount=10 Size=7"},
      {u"RollingDateFile", u"AppenderType = RollingDateFile\nFilesCount = 5\nFileName = a", RC_OK,
       "AppenderType=RollingDateFile FilesCount=5"},
      {u"RollingDateFile", u"AppenderType = RollingDateFile\nDaysCount = 0x7\nFileName = a", RC_OK,
       "AppenderType=RollingDateFile DaysCount=7"},
      {u"RollingDateFile", u"AppenderType = RollingDateFile\nFilesCount = 3\nDaysCount = 3\nFileName = a",
       RC_INVALID_PARAMETER, "AppenderType=RollingDateFile DaysCount=0"},
      {u"RollingDateFile", u"AppenderType = RollingDateFile\nDaysCount = -1\nFileName = a",
       RC_INVALID_PARAMETER, "AppenderType=RollingDateFile DaysCount=0"},
  };
  const std::set<std::string> kDefaults = {"Type=Appender", "BreakSeverity=ALL", "ImmediateWrite=false",
                                           "FileName=/logs/a", "FileName="};
  StandaloneAppenderOwner owner;
  for (const auto& c : kCases) {
    AppenderRef appender;
    ResultCode rc = CreateAppender(c.type, &owner, u"r", u"/logs", &appender);
    if (Succeeded(rc)) rc = appender->LoadConfig(*SectionFromText(u"[r]\n" + WString(c.keys) + u"\n"));
    EXPECT_RC(c.rc, rc) << ToUtf8(c.type) << ": " << ToUtf8(c.keys);
    ConfigSectionRef saved = std::make_shared<ConfigSection>();
    if (appender != nullptr) {
      ConfigDocument document;
      ASSERT_RC(RC_OK, ExportAppenderSection(*appender, document));
      ASSERT_RC(RC_OK, document.FindSection(u"r", &saved));
    }
    EXPECT_EQ(c.saved, test::KeysText(*saved, kDefaults)) << ToUtf8(c.type) << ": " << ToUtf8(c.keys);
  }
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
  const std::string longBytes = ToUtf8(longText);
  EXPECT_EQ("head\nK\nINFO gr\xC3\xBC\xC3\x9F\nWARN " + longBytes + "\nfoot\n",
            test::ReadFileBytes(PathOf("out.txt")));
  EXPECT_EQ("head\nERROR \n", test::ReadFileBytes(PathOf("err.txt")));
}

}  // namespace
}  // namespace zun
