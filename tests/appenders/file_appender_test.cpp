#include "appenders/file_appender.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <barrier>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "appenders/appender_factory.h"
#include "appenders/appender_fixtures.h"
#include "appenders/standalone_owner.h"

namespace zun {
namespace {

using test::AppendWriters;
using test::MakeLayout;
using test::MakeRecord;
using test::ReadFileBytes;
using test::ReadLogLines;
using test::SectionFromText;

class FileAppenderTest : public test::TempDirTest {
 protected:
  // A file appender created with the temporary folder as its log folder and
  // configured from `keys` (the "AppenderType" line is added).
  std::unique_ptr<FileAppender> MakeAppender(WStringView keys, AppenderOwner* owner = nullptr) {
    std::unique_ptr<FileAppender> appender;
    EXPECT_RC(RC_OK, FileAppender::Create(owner, u"file", ToUtf16(Dir().string()), &appender));
    WString text = u"[file]\nAppenderType = File\n";
    text += keys;
    EXPECT_RC(RC_OK, appender->LoadConfig(*SectionFromText(text)));
    return appender;
  }
};

using Lines = std::vector<std::string>;

TEST_F(FileAppenderTest, FileHoldsHeaderKeyRecordLineRecordsAndFooterAtEveryOpening) {
  auto layout = MakeLayout(u"Format = %severity %msg\nHeader = \"== start ==\"\nFooter = \"== end ==\"\n");
  auto appender = MakeAppender(u"FileName = app.log\n");
  appender->AttachLayout(layout.get());
  const SharedText key = std::make_shared<const WString>(u"KEY c123");

  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"one", key)));
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityWarn, u"z\u00fcrich", key)));
  ASSERT_RC(RC_OK, appender->Flush());
  // The footer is on disk once flushed; the next record reopens the file.
  EXPECT_TRUE(ReadFileBytes(PathOf("app.log")).ends_with("== end ==\r\n"));
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityError, u"two", key)));
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityError, u"")));
  ASSERT_RC(RC_OK, appender->Close());

  EXPECT_EQ(
      "\xEF\xBB\xBF"
      "== start ==\r\nKEY c123\r\nINFO one\r\nWARN z\xC3\xBCrich\r\n== end ==\r\n"
      "== start ==\r\nKEY c123\r\nERROR two\r\nERROR \r\n== end ==\r\n",
      ReadFileBytes(PathOf("app.log")));
}

TEST_F(FileAppenderTest, ReconfigurationClosesWithFooterAndTheNextRecordWritesTheHeaderAgain) {
  auto first = MakeLayout(u"Format = a:%msg\nHeader = h1\nFooter = f1\n");
  auto second = MakeLayout(u"Format = b:%msg\nHeader = h2\n");
  auto appender = MakeAppender(u"FileName = app.log\n");
  appender->AttachLayout(first.get());
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"x")));
  {
    auto guard = appender->LockGuard();
    ASSERT_RC(RC_OK, appender->Close());
    ASSERT_RC(RC_OK, appender->LoadConfig(*SectionFromText(
                         u"[file]\nAppenderType = File\nFileName = other.log\nBreakSeverity = WARN\n")));
    appender->AttachLayout(second.get());
  }
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"dropped")));
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityWarn, u"y")));
  appender.reset();  // destroyed while open: no footer
  EXPECT_EQ("\xEF\xBB\xBFh1\r\na:x\r\nf1\r\n", ReadFileBytes(PathOf("app.log")));
  EXPECT_EQ("\xEF\xBB\xBFh2\r\nb:y\r\n", ReadFileBytes(PathOf("other.log")));
}

TEST_F(FileAppenderTest, FolderInPlaceOfTheFileFailsThatRecordAndTheNextOneTriesAgain) {
  std::filesystem::create_directory(PathOf("blocked.log"));
  auto layout = MakeLayout(u"Format = %msg\nHeader = h\n");
  StandaloneAppenderOwner owner;
  auto appender = MakeAppender(u"FileName = blocked.log\n", &owner);
  appender->AttachLayout(layout.get());
  EXPECT_RC(RC_ACCESS_DENIED, appender->Append(MakeRecord(kSeverityInfo, u"lost 1")));
  EXPECT_FALSE(appender->IsOpened());
  EXPECT_RC(RC_ACCESS_DENIED, appender->Append(MakeRecord(kSeverityInfo, u"lost 2")));

  std::filesystem::remove(PathOf("blocked.log"));
  EXPECT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"written")));
  EXPECT_TRUE(appender->IsOpened());
  ASSERT_RC(RC_OK, appender->Flush());
  EXPECT_EQ("\xEF\xBB\xBFh\r\nwritten\r\n", ReadFileBytes(PathOf("blocked.log")));
  // Three opens of one path, one report.
  ASSERT_NE(nullptr, owner.OpenedFiles().Head());
  EXPECT_EQ(WidePath("blocked.log"), owner.OpenedFiles().Head()->Path());
  EXPECT_EQ(nullptr, owner.OpenedFiles().Head()->next);
}

TEST_F(FileAppenderTest, FileNamesResolveAgainstTheLogFolderAndMissingFoldersAreMade) {
  auto layout = MakeLayout(u"Format = %msg\n");
  // Relative names, with either separator, land below the log folder.
  auto nested = MakeAppender(u"FileName = \"sub\\deeper/n.log\"\n");
  EXPECT_EQ(ToUtf16(Dir().string()) + u"/sub\\deeper/n.log", nested->FileName());
  nested->AttachLayout(layout.get());
  ASSERT_RC(RC_OK, nested->Append(MakeRecord(kSeverityInfo, u"deep")));
  nested->Close();
  EXPECT_EQ(
      "\xEF\xBB\xBF"
      "deep\r\n",
      ReadFileBytes(PathOf("sub/deeper/n.log")));

  // A full Linux path has one leading separator and is kept as it is.
  const WString elsewhere = WidePath("elsewhere/x.log");
  auto absolute = MakeAppender(u"FileName = " + elsewhere + u"\n");
  EXPECT_EQ(elsewhere, absolute->FileName());
  WString full;
  ASSERT_RC(RC_OK, absolute->FullPath(&full));
  EXPECT_EQ(elsewhere, full);

  WString resolved;
  ASSERT_RC(RC_OK, ResolveLogFileName(u"D:\\logs", u"D:/x/a.log", &resolved));
  EXPECT_EQ(u"D:/x/a.log", resolved);
  ASSERT_RC(RC_OK, ResolveLogFileName(u"D:\\logs", u"a.log", &resolved));
  EXPECT_EQ(u"D:\\logs\\a.log", resolved);
  ASSERT_RC(RC_OK, ResolveLogFileName(u"D:\\logs", u"\\a.log", &resolved));
  EXPECT_EQ(u"D:\\a.log", resolved);
}

TEST_F(FileAppenderTest, ConfigurationKeysAreReadExactlyAndSavedBack) {
  std::unique_ptr<FileAppender> appender;
  ASSERT_RC(RC_OK, FileAppender::Create(nullptr, u"f", u"/var/log/zun", &appender));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, appender->LoadConfig(*SectionFromText(u"[f]\nFileName = a.log\n")));
  EXPECT_RC(RC_APPENDER_TYPE_MISMATCH,
            appender->LoadConfig(*SectionFromText(u"[f]\nAppenderType = file\nFileName = a.log\n")));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, appender->LoadConfig(*SectionFromText(u"[f]\nAppenderType = File\n")));
  EXPECT_EQ(u"", appender->FileName());

  for (const auto& [value, expected] : std::vector<std::pair<WString, bool>>{{u"true", true},
                                                                             {u"yes", true},
                                                                             {u"1", true},
                                                                             {u"True", false},
                                                                             {u"YES", false},
                                                                             {u"on", false}}) {
    ASSERT_RC(RC_OK, appender->LoadConfig(*SectionFromText(u"[f]\nAppenderType = File\nFileName = a.log\n"
                                                           u"ImmediateWrite = " +
                                                           value + u"\n")));
    EXPECT_EQ(expected, appender->ImmediateWrite()) << ToUtf8(value);
  }
  ASSERT_RC(
      RC_OK,
      appender->LoadConfig(*SectionFromText(
          u"[f]\nAppenderType = File\nFileName = a.log\nImmediateWrite = yes\nBreakSeverity = Debug\n")));

  ConfigDocument document;
  ASSERT_RC(RC_OK, ExportAppenderSection(*appender, document));
  ConfigSectionRef saved;
  ASSERT_RC(RC_OK, document.FindSection(u"f", &saved));
  std::vector<WString> names;
  WString value;
  for (const auto& [name, key] : saved->Keys()) names.push_back(name);
  EXPECT_EQ(
      (std::vector<WString>{u"AppenderType", u"BreakSeverity", u"FileName", u"ImmediateWrite", u"Type"}),
      names);
  saved->GetValue(u"FileName", &value);
  EXPECT_EQ(u"/var/log/zun/a.log", value);
  saved->GetValue(u"ImmediateWrite", &value);
  EXPECT_EQ(u"true", value);
  saved->GetValue(u"BreakSeverity", &value);
  EXPECT_EQ(u"DEBUG", value);
}

TEST_F(FileAppenderTest, ImmediateWriteAndClearWorkOnTheOpenFile) {
  auto layout = MakeLayout(u"Format = %msg\n");
  auto appender = MakeAppender(u"FileName = c.log\nImmediateWrite = 1\n");
  appender->AttachLayout(layout.get());
  ASSERT_RC(RC_OK, appender->Clear());  // closed: nothing to do
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"old")));
  EXPECT_EQ(EncodingMode::kUtf8, appender->Encoding());
  ASSERT_RC(RC_OK, appender->Clear());
  EXPECT_EQ("", ReadFileBytes(PathOf("c.log")));
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"new")));
  EXPECT_EQ("new\r\n", ReadFileBytes(PathOf("c.log")));
  ASSERT_RC(RC_OK, appender->Flush());
  EXPECT_EQ(EncodingMode::kUndecided, appender->Encoding());
}

TEST_F(FileAppenderTest, EightThreadsThroughOwnAndSharedAppendersLoseAndSplitNothing) {
  auto layout = MakeLayout(u"Format = %msg\n");
  std::vector<std::unique_ptr<FileAppender>> appenders;
  for (int i = 0; i < 6; ++i) {
    appenders.push_back(MakeAppender(u"FileName = shared.log\n"));
    appenders.back()->AttachLayout(layout.get());
  }
  // Threads 0-3 have an appender each; 4-7 share two appenders in pairs.
  const auto appenderOf = [&](unsigned t) { return appenders[t < 4 ? t : 4 + (t - 4) / 2].get(); };
  constexpr unsigned kThreads = 8;
  constexpr unsigned kLines = 2500;
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      LogRecord record = MakeRecord(kSeverityInfo, u"");
      start.arrive_and_wait();
      for (unsigned i = 0; i < kLines; ++i) {
        record.message = test::AppendLineText(t, i);
        EXPECT_RC(RC_OK, appenderOf(t)->Append(record));
        // Closing and reopening now and then races the mark check as well.
        if (i % 1000 == 999) {
          EXPECT_RC(RC_OK, appenderOf(t)->Flush());
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  appenders.clear();
  AppendWriters writers;
  for (unsigned t = 0; t < kThreads; ++t) writers[t] = kLines;
  test::ExpectEveryLineOnce(ReadLogLines(PathOf("shared.log")), writers);
}

TEST_F(FileAppenderTest, FourProcessesAppendingToOneFileLoseAndSplitNothing) {
  AppendWriters writers;
  test::RunAppendHosts(PathOf("multi.log"), 4, 2, 2500, &writers);
  test::ExpectEveryLineOnce(ReadLogLines(PathOf("multi.log")), writers);
}

// Lines of a file written until a limit stopped it: every line is either a
// whole record "record <n> ..." (in order, from 0) or blank; returns how
// many records there are.
std::size_t ExpectWholeRecordsOrBlanks(const Lines& lines, const std::string& padding) {
  std::size_t next = 0;
  for (const std::string& line : lines) {
    if (line.find_first_not_of(' ') == std::string::npos) continue;
    if (line == "record " + std::to_string(next) + " " + padding) {
      ++next;
    } else if (line != "resumed") {
      ADD_FAILURE() << "mangled line: " << line;
    }
  }
  return next;
}

class SmallDiskTest : public FileAppenderTest {
 protected:
  void TearDown() override {
    if (mounted_) umount2(disk_.c_str(), MNT_DETACH);
    FileAppenderTest::TearDown();
  }
  // Mounts a 64 KiB tmpfs; false when the system does not allow it.
  bool Mount() {
    disk_ = PathOf("disk");
    std::filesystem::create_directory(disk_);
    mounted_ = mount("tmpfs", disk_.c_str(), "tmpfs", 0, "size=64k") == 0;
    mountError_ = errno;
    return mounted_;
  }
  std::filesystem::path disk_;
  bool mounted_ = false;
  int mountError_ = 0;
};

TEST_F(SmallDiskTest, FullDiskGivesACodeLeavesNoPieceOfALineAndWritingResumesWithRoom) {
  if (!Mount()) {
    GTEST_SKIP() << "a small tmpfs cannot be mounted here (needs CAP_SYS_ADMIN): "
                 << std::strerror(mountError_);
  }
  test::WriteFileBytes(disk_ / "filler", std::string(24 * 1024, 'f'));
  auto layout = MakeLayout(u"Format = %msg\n");
  auto appender = MakeAppender(u"FileName = disk/full.log\n");
  appender->AttachLayout(layout.get());

  const std::string padding(90, 'p');
  ResultCode rc = RC_OK;
  std::size_t written = 0;
  while (written < 2000) {
    rc = appender->Append(
        MakeRecord(kSeverityInfo, ToUtf16("record " + std::to_string(written) + " " + padding)));
    if (Failed(rc)) break;
    ++written;
  }
  ASSERT_RC(RC_DISK_FULL, rc);
  ASSERT_GT(written, 100u);
  EXPECT_RC(RC_DISK_FULL, appender->Append(MakeRecord(kSeverityInfo, u"still no room")));

  std::filesystem::remove(disk_ / "filler");
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"resumed")));
  ASSERT_RC(RC_OK, appender->Flush());
  const Lines lines = ReadLogLines(disk_ / "full.log");
  EXPECT_EQ(written, ExpectWholeRecordsOrBlanks(lines, padding));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("resumed", lines.back());
}

TEST_F(FileAppenderTest, FileSizeLimitGivesACodeLeavesNoPieceOfALineAndWritingResumes) {
  // The limit applies to the whole process, so a child process writes.
  int report[2];
  ASSERT_EQ(0, pipe(report));
  auto layout = MakeLayout(u"Format = %msg\n");
  auto appender = MakeAppender(u"FileName = limited.log\n");
  appender->AttachLayout(layout.get());
  const std::string padding(90, 'p');
  const pid_t pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlim_t original = limit.rlim_cur;
    limit.rlim_cur = 4000;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    std::uint32_t results[3] = {0, 0, 0};  // records written, the failure, the result after the limit
    ResultCode rc = RC_OK;
    while (results[0] < 1000) {
      rc = appender->Append(
          MakeRecord(kSeverityInfo, ToUtf16("record " + std::to_string(results[0]) + " " + padding)));
      if (Failed(rc)) break;
      ++results[0];
    }
    results[1] = rc;
    limit.rlim_cur = original;
    setrlimit(RLIMIT_FSIZE, &limit);
    results[2] = appender->Append(MakeRecord(kSeverityInfo, u"resumed"));
    appender->Flush();
    _exit(write(report[1], results, sizeof results) == sizeof results ? 0 : 3);
  }
  close(report[1]);
  std::uint32_t results[3] = {0, 0, 0};
  ASSERT_EQ(static_cast<ssize_t>(sizeof results), read(report[0], results, sizeof results));
  close(report[0]);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  // Whole lines that fit below the limit after the mark.
  std::size_t fitting = 0;
  for (std::size_t size = 3;; ++fitting) {
    size += std::to_string(fitting).size() + 100;
    if (size > 4000) break;
  }
  EXPECT_EQ(fitting, results[0]);
  EXPECT_RC(ResultFromErrno(EFBIG), results[1]);
  EXPECT_RC(RC_OK, results[2]);
  const std::string bytes = ReadFileBytes(PathOf("limited.log"));
  EXPECT_EQ(4000u + 9u, bytes.size());  // the limit reached, then "resumed"
  const Lines lines = ReadLogLines(PathOf("limited.log"));
  EXPECT_EQ(results[0], ExpectWholeRecordsOrBlanks(lines, padding));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("resumed", lines.back());
}

}  // namespace
}  // namespace zun
