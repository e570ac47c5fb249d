#include "appenders/file_appender.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "appenders/appender_fixtures.h"
#include "appenders/log_file.h"
#include "platform/clock.h"
#include "platform/directory_listing.h"
#include "platform/stream.h"

namespace zun {
namespace {

using test::AppendInfo;
using test::MakeLayout;
using test::MakeRecord;
using test::ReadFileBytes;

class FileAppenderTest : public test::TempDirTest {
 protected:
  // A file appender below the temporary folder, writing "%msg" lines unless
  // given another layout.
  std::unique_ptr<FileAppender> MakeAppender(WStringView keys, const Layout* layout = nullptr) {
    return test::MakeFileAppender(nullptr, Dir(), keys, layout != nullptr ? layout : layout_.get());
  }
  std::unique_ptr<CustomLayout> layout_ = MakeLayout(u"Format = %msg\n");
};

TEST_F(FileAppenderTest, FileHoldsHeaderKeyRecordLineRecordsAndFooterAtEveryOpening) {
  auto layout = MakeLayout(u"Format = %severity %msg\nHeader = \"== start ==\"\nFooter = \"== end ==\"\n");
  auto appender = MakeAppender(u"FileName = app.log\n", layout.get());
  const SharedText key = std::make_shared<const WString>(u"KEY c123");

  const mode_t oldMask = umask(027);
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"one", key)));
  umask(oldMask);
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityWarn, u"z\u00fcrich", key)));
  ASSERT_RC(RC_OK, appender->Flush());
  // A lone surrogate cannot be UTF-8: it becomes U+FFFD, the line survives.
  ASSERT_RC(RC_OK,
            appender->Append(MakeRecord(kSeverityError, WString(u"\U0001F600") + char16_t(0xD800), key)));
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityError, u"")));
  ASSERT_RC(RC_OK, appender->Close());
  EXPECT_EQ(
      "\xEF\xBB\xBF"
      "== start ==\r\nKEY c123\r\nINFO one\r\nWARN z\xC3\xBCrich\r\n== end ==\r\n"
      "== start ==\r\nKEY c123\r\nERROR \xF0\x9F\x98\x80\xEF\xBF\xBD\r\nERROR \r\n== end ==\r\n",
      ReadFileBytes(PathOf("app.log")));
  struct stat st {};
  ASSERT_EQ(0, stat(PathOf("app.log").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777) << "read and write for all, less the umask";
}

// Linux releases a descriptor even when close fails.
int FailingClose(int fd) {
  close(fd);
  errno = EIO;
  return -1;
}

TEST_F(FileAppenderTest, FailedOpenOrCloseFailsThatCallAndTheNextRecordOpensAgain) {
  std::filesystem::create_directory(PathOf("blocked.log"));
  auto layout = MakeLayout(u"Format = %msg\nHeader = h\n");
  auto appender = MakeAppender(u"FileName = blocked.log\n", layout.get());
  EXPECT_RC(RC_ACCESS_DENIED, appender->Append(MakeRecord(kSeverityInfo, u"lost 1")));
  EXPECT_RC(RC_ACCESS_DENIED, appender->Append(MakeRecord(kSeverityInfo, u"lost 2")));

  std::filesystem::remove(PathOf("blocked.log"));
  AppendInfo(*appender, u"written");
  {
    test::FileCallsOverride faults;
    faults.calls.close = FailingClose;
    faults.Install();
    EXPECT_RC(ResultFromErrno(EIO), appender->Flush());
  }
  EXPECT_FALSE(appender->IsOpened());
  AppendInfo(*appender, u"reopened");
  ASSERT_RC(RC_OK, appender->Flush());
  EXPECT_EQ("\xEF\xBB\xBFh\r\nwritten\r\nh\r\nreopened\r\n", ReadFileBytes(PathOf("blocked.log")));
}

// Escaping keeps a message with line breaks on its own line; the value is
// read case-sensitively, so "True" leaves the breaks as they are.
TEST_F(FileAppenderTest, ImmediateWriteShowsEachLineAtOnceEscapingKeepsItOneLineAndClearEmptiesTheFile) {
  auto appender = MakeAppender(u"FileName = c.log\nImmediateWrite = 1\nEscapeLineBreaks = true\n");
  ASSERT_RC(RC_OK, appender->Clear());  // closed: nothing to do
  AppendInfo(*appender, u"old");
  ASSERT_RC(RC_OK, appender->Clear());
  EXPECT_EQ("", ReadFileBytes(PathOf("c.log")));
  AppendInfo(*appender, u"a\r\nb\rc\n");
  EXPECT_EQ("a\v\vb\vc\v\r\n", ReadFileBytes(PathOf("c.log")));
  auto plain = MakeAppender(u"FileName = d.log\nImmediateWrite = 1\nEscapeLineBreaks = True\n");
  AppendInfo(*plain, u"a\nb");
  EXPECT_EQ(std::vector<std::string>{"a\nb"}, test::ReadLogLines(PathOf("d.log")));
}

// Another process at the moment a new file is linked into place: it may
// have made the file first, or the file system may have no hard links.
enum class LinkPlay { kReal, kOtherFirst, kRefused };
LinkPlay gLinkPlay = LinkPlay::kReal;
int PlayedLink(const char* existing, const char* created) {
  if (gLinkPlay == LinkPlay::kRefused) {
    errno = EPERM;
    return -1;
  }
  if (gLinkPlay == LinkPlay::kOtherFirst) test::WriteFileBytes(created, "\xEF\xBB\xBFtheirs\r\n");
  return link(existing, created);
}

// FF FE means UTF-16LE; anything else is continued as UTF-8 as it stands, an
// empty file too (someone may be appending to it already). A new file
// appears with its mark, and no temporary name stays behind.
TEST_F(FileAppenderTest, ExistingContentIsContinuedAsItStandsAndANewFileAppearsWithItsMark) {
  test::FileCallsOverride faults;
  faults.calls.link = PlayedLink;
  faults.Install();
  const std::string wide("\xFF\xFEo\0l\0d\0\r\0\n\0", 12);
  const std::string line = "\xE2\x82\xAC\xF0\x9F\x98\x80\r\n";
  struct Case {
    std::optional<std::string> existing;
    LinkPlay play;
    std::string expected;
  };
  const Case kCases[] = {{wide, LinkPlay::kReal, wide + std::string("\xAC\x20\x3D\xD8\x00\xDE\r\0\n\0", 10)},
                         {"\xEF\xBB~broken mark", LinkPlay::kReal, "\xEF\xBB~broken mark" + line},
                         {"", LinkPlay::kReal, line},
                         {std::nullopt, LinkPlay::kReal, "\xEF\xBB\xBF" + line},
                         {std::nullopt, LinkPlay::kOtherFirst, "\xEF\xBB\xBFtheirs\r\n" + line},
                         {std::nullopt, LinkPlay::kRefused, "\xEF\xBB\xBF" + line}};
  for (const Case& c : kCases) {
    const std::string name = std::to_string(&c - kCases) + ".log";
    if (c.existing) test::WriteFileBytes(PathOf(name), *c.existing);
    gLinkPlay = c.play;
    LogFile file;
    ASSERT_RC(RC_OK, file.Open(WidePath(name)));
    ASSERT_RC(RC_OK, file.Write(u"\u20ac\U0001F600"));
    file.Close();
    EXPECT_EQ(c.expected, ReadFileBytes(PathOf(name))) << name;
  }
  EXPECT_EQ(std::ssize(kCases), std::distance(std::filesystem::directory_iterator(Dir()), {}));
  EXPECT_RC(RC_FILE_NOT_FOUND, LogFile().Open(WidePath("missing/x.log")));
}

// The next `shorts` writes cut short after `at` bytes as a full disk would,
// then `refused` writes refused as full.
struct Cut {
  std::size_t at = 0;
  int shorts = 0, refused = 0;
};
Cut gCut;
int gWrites = 0;
ssize_t ShortWrite(int fd, const void* buffer, size_t length) {
  ++gWrites;
  if (gCut.shorts > 0) {
    --gCut.shorts;
    return write(fd, buffer, gCut.at);
  }
  if (gCut.refused > 0) {
    --gCut.refused;
    errno = ENOSPC;
    return -1;
  }
  return write(fd, buffer, length);
}

TEST_F(FileAppenderTest, PartOfALineOrBatchThatLandedIsBlankedAndItsLinesTriedOnceMore) {
  test::FileCallsOverride faults;
  faults.calls.write = ShortWrite;
  faults.Install();
  LogFile file;
  ASSERT_RC(RC_OK, file.Open(WidePath("short.log")));
  const struct {
    const char16_t* line;
    Cut cut;
    ResultCode rc;
  } kCases[] = {
      {u"before", {}, RC_OK},
      {u"lost record", {5, 1, 1}, RC_DISK_FULL},  // the retry fails: a blank line stands in
      {u"kept", {1, 1, 0}, RC_OK},                // the retry finds room: the line follows the blank
      {u"twice", {3, 2, 0}, RC_DISK_FULL},        // both pieces blanked
      {u"after", {}, RC_OK},
  };
  for (const auto& c : kCases) {
    gCut = c.cut;
    EXPECT_RC(c.rc, file.Write(c.line)) << ToUtf8(c.line);
  }
  // Kept lines go in one write; a cut one is blanked, then each line is
  // written alone.
  for (const char16_t* line : {u"k1", u"k2", u"k3"}) ASSERT_RC(RC_OK, file.Keep(line));
  gWrites = 0;
  ASSERT_RC(RC_OK, file.WriteKept());
  EXPECT_EQ(1, gWrites);
  for (const char16_t* line : {u"k4", u"k5"}) ASSERT_RC(RC_OK, file.Keep(line));
  gCut = {5, 1, 0};
  ASSERT_RC(RC_OK, file.WriteKept());
  file.Close();
  EXPECT_EQ(
      "\xEF\xBB\xBF"
      "before\r\n   \r\n\nkept\r\n \r\n \r\nafter\r\nk1\r\nk2\r\nk3\r\n   \r\nk4\r\nk5\r\n",
      ReadFileBytes(PathOf("short.log")));

  // In UTF-16 the blank covers the piece in whole units.
  test::WriteFileBytes(PathOf("wide.log"), std::string("\xFF\xFE", 2));
  ASSERT_RC(RC_OK, file.Open(WidePath("wide.log")));
  gCut = {6, 1, 0};
  EXPECT_RC(RC_OK, file.Write(u"xyz"));
  file.Close();
  EXPECT_EQ(std::string("\xFF\xFE \0\r\0\n\0x\0y\0z\0\r\0\n\0", 18), ReadFileBytes(PathOf("wide.log")));
}

// A host that closed its standard streams, then made standard output a
// pipe: the library's own descriptors never take the numbers 0 to 2 (or the
// host's console lines would land in a log), and "/dev/stdout" as the file
// name takes the lines as they are.
TEST_F(FileAppenderTest, StandardStreamsStayTheHostsAndStandardOutputTakesPlainLines) {
  auto log = MakeAppender(u"FileName = low.log\n");
  auto out = MakeAppender(u"FileName = /dev/stdout\n");
  test::ExpectChildExitsZero([&] {
    for (int fd = 0; fd < 3; ++fd) close(fd);
    int fds[2];
    if (pipe(fds) != 0 || fds[1] != STDOUT_FILENO) return 1;
    FileStream stream;
    DirectoryListing listing;
    if (log->Append(MakeRecord(kSeverityInfo, u"log")) != RC_OK ||
        stream.Open(WidePath("s.bin"), OpenKind::kOpenAlways, kAccessWrite, 0, 0) != RC_OK ||
        listing.Open(ToUtf16(Dir().string()), u"*", kListFiles) != RC_OK) {
      return 2;
    }
    if (fcntl(STDERR_FILENO, F_GETFD) != -1) return 3;
    if (out->Append(MakeRecord(kSeverityInfo, u"one")) != RC_OK ||
        out->Append(MakeRecord(kSeverityInfo, u"two")) != RC_OK || out->Flush() != RC_OK) {
      return 4;
    }
    close(STDOUT_FILENO);
    char got[64];
    const ssize_t n = read(fds[0], got, sizeof got);
    return std::string(got, n > 0 ? n : 0) == "one\r\ntwo\r\n" ? 0 : 5;
  });
  EXPECT_EQ(std::vector<std::string>{"log"}, test::ReadLogLines(PathOf("low.log")));
}

std::atomic<std::uint64_t> gTicks{10000};
const ClockSource kSteppedClock{[] { return FileTime{133500000000000000ull}; }, [] { return gTicks.load(); }};

class FileTargetTest : public test::LoggerFilesTest {
 protected:
  void TearDown() override {
    SetClockSource(nullptr);
    LoggerFilesTest::TearDown();
  }
};

// Other programs move the log away, with and without a new empty file in its
// place, and remove it while four threads log: within the housekeeping second after each
// change, the lines go to a new file under the log's name, which starts with
// the key record line; no line is lost or written twice.
TEST_F(FileTargetTest, LogMovedReplacedOrRemovedByOthersIsReopenedWithinTheSecond) {
  SetClockSource(&kSteppedClock);
  tree_.SetKeyRecordLine(std::make_shared<const WString>(u"KEY"));
  Logger* logger = Get(u"moved", 57);
  AddFileAppender(logger, "moved.log");
  static const auto layout = MakeLayout(u"Format = %msg\n");  // outlives the fixture's appenders
  appenders_.back()->AttachLayout(layout.get());
  const std::filesystem::path path = PathOf("moved.log");
  std::atomic<unsigned> logged{0};
  std::atomic<bool> stop{false};
  test::AppendWriters writers = {{0, 0}, {1, 0}, {2, 0}, {3, 0}};
  int removed = -1;  // the removed log's lines are read through it
  const std::function<void()> kChanges[] = {
      [&] { std::filesystem::rename(path, PathOf("moved.1")), test::WriteFileBytes(path, ""); },
      [&] { std::filesystem::rename(path, PathOf("moved.2")); },
      [&] { removed = open(path.c_str(), O_RDONLY | O_CLOEXEC), std::filesystem::remove(path); }};
  // Waits while the writers log `lines` more lines, or until `done`.
  const auto await = [&](unsigned lines, const std::function<bool()>& done) {
    for (const unsigned from = logged.load(); !done() && logged.load() < from + lines;) {
      std::this_thread::yield();
    }
    return done();
  };
  test::RunThreads(5, [&](unsigned t) {
    if (t < 4) {
      for (unsigned& n = writers.at(t); !stop.load(); ++n, ++logged) {
        EXPECT_RC(RC_OK, LogFormat(logger, ZUN_SEVERITY_INFO, 0, u"%s", test::AppendLineText(t, n).c_str()));
      }
      return;
    }
    for (const auto& change : kChanges) {
      await(100, [] { return false; });
      change();
      gTicks += 1001;
      std::error_code error;
      EXPECT_TRUE(await(20000, [&] { return std::filesystem::file_size(path, error) > 0 && !error; }));
    }
    await(100, [] { return false; });
    stop = true;
  });

  std::vector<std::string> messages;
  for (const auto& [name, marked] : {std::pair<std::string, bool>{PathOf("moved.1"), true},
                                     {PathOf("moved.2"), false},
                                     {"/proc/self/fd/" + std::to_string(removed), true},
                                     {path, true}}) {
    const std::vector<std::string> lines = test::LogLines(ReadFileBytes(name), name, marked);
    ASSERT_FALSE(lines.empty()) << name;
    EXPECT_EQ("KEY", lines[0]) << name;  // a key record line anywhere else is a malformed line
    messages.insert(messages.end(), lines.begin() + 1, lines.end());
  }
  close(removed);
  test::ExpectEveryLineOnce(messages, writers);
}

TEST_F(FileAppenderTest, EightThreadsThroughOneOrTwoAppendersOfOneFileLoseAndSplitNothing) {
  test::AppendFromEightThreads(PathOf("one.log"), 1, 2500);
  test::AppendFromEightThreads(PathOf("two.log"), 2, 2500);
}

// Two appenders race to create each file while another program appends to
// it as soon as it exists: the file appears with its mark, and no line is
// written over.
TEST_F(FileAppenderTest, NewFileAppearsWithItsMarkWhileOthersAppend) {
  for (int round = 0; round < 25 && !HasFailure(); ++round) {
    test::AppendFromProcesses(PathOf("fresh" + std::to_string(round) + ".log"), 3, 1, 3, true);
  }
}

// The first write of this process after gHold is set waits until it is
// cleared; gHeld counts the writes seen meanwhile.
std::atomic<bool> gHold{false};
std::atomic<int> gHeld{0};
pid_t gHoldingProcess = 0;
ssize_t HeldWrite(int fd, const void* buffer, size_t length) {
  if (getpid() == gHoldingProcess && gHold.load() && gHeld.fetch_add(1) == 0) {
    gHeld.notify_all();
    while (gHold.load()) gHold.wait(true);
  }
  return RealFileCalls().write(fd, buffer, length);
}

// A line goes out after the appender's lock is released: while its write is
// under way a forked child logs and closes without waiting for it, and the
// parent's footer waits for it, so the footer stays last and the file is
// not closed under the write.
TEST_F(FileAppenderTest, ALineWrittenWithoutTheLockEndsBeforeTheFooterAndAChildDoesNotWaitForIt) {
  auto layout = MakeLayout(u"Format = %msg\nFooter = end\n");
  auto appender = MakeAppender(u"FileName = held.log\n", layout.get());
  AppendInfo(*appender, u"first");
  test::FileCallsOverride held;
  held.calls.write = HeldWrite;
  held.Install();
  gHoldingProcess = getpid();
  gHold = true;
  std::thread writer([&] { AppendInfo(*appender, u"held"); });
  while (gHeld.load() == 0) gHeld.wait(0);
  test::ExpectChildExitsZero([&] {
    return appender->Append(MakeRecord(kSeverityInfo, u"child")) == RC_OK && appender->Flush() == RC_OK ? 0
                                                                                                        : 1;
  });
  std::thread closer([&] { EXPECT_RC(RC_OK, appender->Flush()); });
  // Long enough for a footer that did not wait to go out first.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  gHold = false;
  gHold.notify_all();
  writer.join();
  closer.join();
  EXPECT_EQ(
      "\xEF\xBB\xBF"
      "first\r\nchild\r\nend\r\nheld\r\nend\r\n",
      ReadFileBytes(PathOf("held.log")));
}

// The size limit applies to the whole process, so a child with the default
// action of SIGXFSZ (ending the process) writes numbered records until one
// fails, tries once more, then lifts the limit and writes one more. Only
// whole records, a blank in place of the cut one, and that last are on disk.
TEST_F(FileAppenderTest, FileSizeLimitGivesACodeLeavesNoPieceOfALineAndWritingResumes) {
  const auto record = [](unsigned n) { return "record " + std::to_string(n) + " " + std::string(90, 'p'); };
  auto appender = MakeAppender(u"FileName = limited.log\n");
  test::ExpectChildExitsZero([&] {
    // The records that fit below the limit (whole 100 or 101-byte lines
    // after the mark) are written, the next two give EFBIG's code, and
    // writing resumes once the limit is lifted. The file is open before the
    // limit is lowered.
    signal(SIGXFSZ, SIG_DFL);
    const auto append = [&](const std::string& text) {
      return appender->Append(MakeRecord(kSeverityInfo, ToUtf16(text)));
    };
    unsigned written = append(record(0)) == RC_OK ? 1 : 0;
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    rlimit lowered = limit;
    lowered.rlim_cur = 4000;
    if (setrlimit(RLIMIT_FSIZE, &lowered) != 0) return 2;
    ResultCode rc = RC_OK;
    while (written < 2000 && Succeeded(rc = append(record(written)))) ++written;
    if (written != 39 || rc != ResultFromErrno(EFBIG)) return 3;
    if (append("at the limit") != ResultFromErrno(EFBIG)) return 4;
    setrlimit(RLIMIT_FSIZE, &limit);
    return append("resumed") == RC_OK ? 0 : 5;
  });
  std::string expected = "\xEF\xBB\xBF";
  for (unsigned n = 0; n < 39; ++n) expected += record(n) + "\r\n";
  expected += std::string(4000 - expected.size() - 2, ' ') + "\r\nresumed\r\n";
  EXPECT_EQ(expected, ReadFileBytes(PathOf("limited.log")));
}

}  // namespace
}  // namespace zun
