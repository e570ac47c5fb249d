#include "appenders/console_appender.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "appenders/appender_factory.h"
#include "appenders/appender_fixtures.h"

namespace zun {
namespace {

using test::MakeLayout;
using test::MakeRecord;
using test::SectionFromText;

// Sends descriptor `fd` into a file while it lives.
class Captured {
 public:
  Captured(int fd, const std::filesystem::path& file) : fd_(fd) {
    std::fflush(nullptr);
    saved_ = dup(fd);
    const int target = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(target, fd);
    close(target);
  }
  ~Captured() {
    dup2(saved_, fd_);
    close(saved_);
  }

 private:
  int fd_;
  int saved_;
};

class ConsoleAppenderTest : public test::TempDirTest {
 protected:
  std::unique_ptr<ConsoleAppender> MakeAppender(WStringView keys) {
    std::unique_ptr<ConsoleAppender> appender;
    EXPECT_RC(RC_OK, ConsoleAppender::Create(nullptr, u"con", &appender));
    WString text = u"[con]\nAppenderType = Console\n";
    text += keys;
    EXPECT_RC(RC_OK, appender->LoadConfig(*SectionFromText(text)));
    return appender;
  }
};

TEST_F(ConsoleAppenderTest, TargetIsStandardOutputOnlyForExactlySystemOut) {
  EXPECT_FALSE(MakeAppender(u"")->UsesStandardError());
  EXPECT_FALSE(MakeAppender(u"Target = System.out\n")->UsesStandardError());
  EXPECT_TRUE(MakeAppender(u"Target = system.out\n")->UsesStandardError());
  EXPECT_TRUE(MakeAppender(u"Target = System.err\n")->UsesStandardError());
  EXPECT_TRUE(MakeAppender(u"Target = anything\n")->UsesStandardError());

  std::unique_ptr<ConsoleAppender> appender;
  ASSERT_RC(RC_OK, ConsoleAppender::Create(nullptr, u"con", &appender));
  EXPECT_RC(RC_APPENDER_TYPE_MISMATCH,
            appender->LoadConfig(*SectionFromText(u"[con]\nAppenderType = File\n")));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, appender->LoadConfig(*SectionFromText(u"[con]\nTarget = System.out\n")));

  auto configured = MakeAppender(u"Target = Err\nBreakSeverity = FATAL\n");
  EXPECT_EQ(kSeverityFatal, configured->BreakSeverity());
  ConfigDocument document;
  ASSERT_RC(RC_OK, ExportAppenderSection(*configured, document));
  ConfigSectionRef saved;
  ASSERT_RC(RC_OK, document.FindSection(u"con", &saved));
  WString value;
  saved->GetValue(u"Target", &value);
  EXPECT_EQ(u"System.err", value);
  saved->GetValue(u"AppenderType", &value);
  EXPECT_EQ(u"Console", value);
  saved->GetValue(u"BreakSeverity", &value);
  EXPECT_EQ(u"FATAL", value);
}

TEST_F(ConsoleAppenderTest, LinesReachTheChosenStreamAsUtf8EndedByALineFeed) {
  auto layout = MakeLayout(u"Format = %severity %msg\nHeader = head\nFooter = foot\n");
  auto out = MakeAppender(u"Target = System.out\n");
  auto err = MakeAppender(u"");
  // Reconfigured to standard error.
  ASSERT_RC(RC_OK,
            err->LoadConfig(*SectionFromText(u"[con]\nAppenderType = Console\nTarget = System.err\n")));
  out->AttachLayout(layout.get());
  err->AttachLayout(layout.get());
  const WString longText(100000, u'\u00e9');
  {
    Captured capturedOut(STDOUT_FILENO, PathOf("out.txt"));
    Captured capturedErr(STDERR_FILENO, PathOf("err.txt"));
    EXPECT_RC(RC_OK, out->Append(MakeRecord(kSeverityInfo, u"gr\u00fc\u00df",
                                            std::make_shared<const WString>(u"K"))));
    EXPECT_RC(RC_OK, out->Append(MakeRecord(kSeverityWarn, longText)));
    EXPECT_RC(RC_OK, out->Flush());
    EXPECT_RC(RC_OK, err->Append(MakeRecord(kSeverityError, u"")));
  }
  std::string longBytes;
  for (int i = 0; i < 100000; ++i) longBytes += "\xC3\xA9";
  EXPECT_EQ("head\nK\nINFO gr\xC3\xBC\xC3\x9F\nWARN " + longBytes + "\nfoot\n",
            test::ReadFileBytes(PathOf("out.txt")));
  EXPECT_EQ("head\nERROR \n", test::ReadFileBytes(PathOf("err.txt")));
}

// Runs `body` in a child process and returns its exit status (0: passed).
template <typename Body>
int InChild(Body body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = -1;
  waitpid(pid, &status, 0);
  return status;
}

TEST_F(ConsoleAppenderTest, ProcessWithoutStandardStreamsLosesTheLinesSilently) {
  auto layout = MakeLayout(u"Format = %msg\n");
  auto out = MakeAppender(u"Target = System.out\n");
  auto err = MakeAppender(u"");
  out->AttachLayout(layout.get());
  err->AttachLayout(layout.get());
  const int status = InChild([&] {
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
    return (out->Append(MakeRecord(kSeverityInfo, u"nowhere")) == RC_OK &&
            err->Append(MakeRecord(kSeverityInfo, u"nowhere")) == RC_OK)
               ? 0
               : 1;
  });
  EXPECT_EQ(0, status);
}

TEST_F(ConsoleAppenderTest, ReaderGoneGivesACodeAndNoSignal) {
  auto layout = MakeLayout(u"Format = %msg\n");
  auto out = MakeAppender(u"Target = System.out\n");
  out->AttachLayout(layout.get());
  const int status = InChild([&] {
    signal(SIGPIPE, SIG_DFL);
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return 2;
    close(pipeFds[0]);
    dup2(pipeFds[1], STDOUT_FILENO);
    const ResultCode rc = out->Append(MakeRecord(kSeverityInfo, u"into a broken pipe"));
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE)) return 3;
    return rc == ResultFromErrno(EPIPE) ? 0 : 1;
  });
  EXPECT_EQ(0, status);
}

}  // namespace
}  // namespace zun
