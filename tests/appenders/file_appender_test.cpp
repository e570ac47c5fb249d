#include "appenders/file_appender.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>

#include "appenders/appender_factory.h"
#include "appenders/appender_fixtures.h"
#include "appenders/log_file.h"
#include "appenders/standalone_owner.h"

namespace zun {
namespace {

using test::MakeLayout;
using test::MakeRecord;
using test::ReadFileBytes;
using test::SectionFromText;

class FileAppenderTest : public test::TempDirTest {
 protected:
  // A file appender below the temporary folder, writing "%msg" lines.
  std::unique_ptr<FileAppender> MakeAppender(WStringView keys, AppenderOwner* owner = nullptr) {
    auto appender = test::MakeFileAppender(owner, Dir(), keys);
    appender->AttachLayout(layout_.get());
    return appender;
  }
  std::unique_ptr<CustomLayout> layout_ = MakeLayout(u"Format = %msg\n");
};

TEST_F(FileAppenderTest, FileHoldsHeaderKeyRecordLineRecordsAndFooterAtEveryOpening) {
  auto layout = MakeLayout(u"Format = %severity %msg\nHeader = \"== start ==\"\nFooter = \"== end ==\"\n");
  auto appender = MakeAppender(u"FileName = app.log\n");
  appender->AttachLayout(layout.get());
  const SharedText key = std::make_shared<const WString>(u"KEY c123");

  const mode_t oldMask = umask(027);
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"one", key)));
  umask(oldMask);
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityWarn, u"z\u00fcrich", key)));
  ASSERT_RC(RC_OK, appender->Flush());
  EXPECT_TRUE(ReadFileBytes(PathOf("app.log")).ends_with("== end ==\r\n"));
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
                         u"[file]\nAppenderType = File\nFileName = other.log\nBreakSeverity = wArN\n")));
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
  EXPECT_RC(RC_ACCESS_DENIED, appender->Append(MakeRecord(kSeverityInfo, u"lost 2")));

  std::filesystem::remove(PathOf("blocked.log"));
  EXPECT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"written")));
  ASSERT_RC(RC_OK, appender->Flush());
  EXPECT_EQ("\xEF\xBB\xBFh\r\nwritten\r\n", ReadFileBytes(PathOf("blocked.log")));
  // Three opens of one path, one report.
  ASSERT_NE(nullptr, owner.OpenedFiles().Head());
  EXPECT_EQ(WidePath("blocked.log"), owner.OpenedFiles().Head()->Path());
  EXPECT_EQ(nullptr, owner.OpenedFiles().Head()->next);
}

TEST_F(FileAppenderTest, FileNamesResolveAgainstTheLogFolderAndMissingFoldersAreMade) {
  auto nested = MakeAppender(u"FileName = \"sub\\deeper/n.log\"\n");
  EXPECT_EQ(ToUtf16(Dir().string()) + u"/sub\\deeper/n.log", nested->FileName());
  ASSERT_RC(RC_OK, nested->Append(MakeRecord(kSeverityInfo, u"deep")));
  nested->Close();
  EXPECT_EQ(std::vector<std::string>{"deep"}, test::ReadLogLines(PathOf("sub/deeper/n.log")));
  WString resolved;
  ASSERT_RC(RC_OK, MakeAppender(u"FileName = " + WidePath("x.log") + u"\n")->FullPath(&resolved));
  EXPECT_EQ(WidePath("x.log"), resolved);
  const std::pair<WStringView, WStringView> kCases[] = {
      {u"D:/x/a.log", u"D:/x/a.log"}, {u"a.log", u"D:\\logs\\a.log"}, {u"\\a.log", u"D:\\a.log"}};
  for (const auto& [name, expected] : kCases) {
    ASSERT_RC(RC_OK, ResolveLogFileName(u"D:\\logs", name, &resolved));
    EXPECT_EQ(expected, resolved);
  }
}

TEST_F(FileAppenderTest, ConfigurationKeysAreReadExactlyAndSavedBack) {
  std::unique_ptr<FileAppender> appender;
  ASSERT_RC(RC_OK, FileAppender::Create(nullptr, u"f", u"/var/log/zun", &appender));
  const auto load = [&](WStringView keys) {
    return appender->LoadConfig(*SectionFromText(u"[f]\n" + WString(keys)));
  };
  EXPECT_RC(RC_ITEM_NOT_PRESENT, load(u"FileName = a.log\n"));
  EXPECT_RC(RC_APPENDER_TYPE_MISMATCH, load(u"AppenderType = file\nFileName = a.log\n"));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, load(u"AppenderType = File\n"));
  EXPECT_RC(RC_INVALID_DATA, load(u"AppenderType = File\nFileName = ${nothing}.log\n"));
  ASSERT_RC(RC_OK, load(u"AppenderType = File\nFileName = \"$${pid} ${pid}.log\"\n"));
  EXPECT_EQ(u"/var/log/zun/${pid} " + ToUtf16(std::to_string(getpid())) + u".log", appender->FileName());
  for (const auto& [value, expected] : std::initializer_list<std::pair<const char16_t*, bool>>{
           {u"True", false}, {u"on", false}, {u"1", true}, {u"yes", true}}) {
    ASSERT_RC(RC_OK,
              load(u"AppenderType = File\nFileName = a.log\nImmediateWrite = " + WString(value) + u"\n"));
    EXPECT_EQ(expected, appender->ImmediateWrite()) << ToUtf8(value);
  }
  ConfigDocument document;
  ASSERT_RC(RC_OK, ExportAppenderSection(*appender, document));
  ConfigSectionRef saved;
  ASSERT_RC(RC_OK, document.FindSection(u"f", &saved));
  WString value;
  EXPECT_RC(RC_OK, saved->GetValue(u"FileName", &value));
  EXPECT_EQ(u"/var/log/zun/a.log", value);
  EXPECT_RC(RC_OK, saved->GetValue(u"ImmediateWrite", &value));
  EXPECT_EQ(u"true", value);
}

TEST_F(FileAppenderTest, ImmediateWriteShowsEachLineAtOnceAndClearEmptiesTheOpenFile) {
  auto appender = MakeAppender(u"FileName = c.log\nImmediateWrite = 1\n");
  ASSERT_RC(RC_OK, appender->Clear());  // closed: nothing to do
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"old")));
  ASSERT_RC(RC_OK, appender->Clear());
  EXPECT_EQ("", ReadFileBytes(PathOf("c.log")));
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"new")));
  EXPECT_EQ("new\r\n", ReadFileBytes(PathOf("c.log")));
}

TEST_F(FileAppenderTest, ExistingContentIsContinuedInItsEncodingAndNeverDamaged) {
  // FF FE means UTF-16LE; anything else is continued as UTF-8, as it stands;
  // an empty file is treated like a new one.
  const std::string wide("\xFF\xFEo\0l\0d\0\r\0\n\0", 12);
  const std::string line = "\xE2\x82\xAC\xF0\x9F\x98\x80\r\n";
  const std::pair<std::string, std::string> kCases[] = {
      {wide, wide + std::string("\xAC\x20\x3D\xD8\x00\xDE\r\0\n\0", 10)},
      {"\xEF\xBB~broken mark", "\xEF\xBB~broken mark" + line},
      {"\xFF", "\xFF" + line},
      {"", "\xEF\xBB\xBF" + line}};
  for (const auto& [existing, expected] : kCases) {
    test::WriteFileBytes(PathOf("old.log"), existing);
    LogFile file;
    ASSERT_RC(RC_OK, file.Open(WidePath("old.log")));
    ASSERT_RC(RC_OK, file.Write(u"\u20ac\U0001F600"));
    file.Close();
    EXPECT_EQ(expected, ReadFileBytes(PathOf("old.log")));
  }
}

// The real calls, with the next write cut short after `cutAt` bytes as a
// full disk would, and later writes of the same line refused as full.
class ShortWriteIo : public LogFileIo {
 public:
  std::size_t cutAt = 0;
  int shortWrites = 0;    // how many writes to cut
  int refusedWrites = 0;  // then how many to refuse with ENOSPC's code
  ResultCode Write(int fd, const void* buffer, std::size_t length, std::size_t* written) noexcept override {
    if (shortWrites > 0) {
      --shortWrites;
      return LogFileIo::Write(fd, buffer, cutAt, written);
    }
    if (refusedWrites > 0) {
      --refusedWrites;
      *written = 0;
      return RC_DISK_FULL;
    }
    return LogFileIo::Write(fd, buffer, length, written);
  }
};

TEST_F(FileAppenderTest, PartOfALineThatLandedIsBlankedAndTheLineTriedOnceMore) {
  ShortWriteIo io;
  LogFile file(io);
  ASSERT_RC(RC_OK, file.Open(WidePath("short.log")));
  ASSERT_RC(RC_OK, file.Write(u"before"));

  // Cut, then the retry fails: the record is lost, a blank line stands in.
  io.cutAt = 5;
  io.shortWrites = 1;
  io.refusedWrites = 1;
  EXPECT_RC(RC_DISK_FULL, file.Write(u"lost record"));
  // Cut, then the retry finds room: the whole line follows the blank.
  io.cutAt = 1;
  io.shortWrites = 1;
  EXPECT_RC(RC_OK, file.Write(u"kept"));
  // Cut twice: both pieces blanked, the code says the disk is full.
  io.cutAt = 3;
  io.shortWrites = 2;
  EXPECT_RC(RC_DISK_FULL, file.Write(u"twice"));
  ASSERT_RC(RC_OK, file.Write(u"after"));
  file.Close();
  EXPECT_EQ(
      "\xEF\xBB\xBF"
      "before\r\n   \r\n\nkept\r\n \r\n \r\nafter\r\n",
      ReadFileBytes(PathOf("short.log")));

  // In UTF-16 the blank covers the piece in whole units.
  test::WriteFileBytes(PathOf("wide.log"), std::string("\xFF\xFE", 2));
  ASSERT_RC(RC_OK, file.Open(WidePath("wide.log")));
  io.cutAt = 6;
  io.shortWrites = 1;
  EXPECT_RC(RC_OK, file.Write(u"xyz"));
  file.Close();
  EXPECT_EQ(std::string("\xFF\xFE \0\r\0\n\0x\0y\0z\0\r\0\n\0", 18), ReadFileBytes(PathOf("wide.log")));
}

class TwoLoggersTest : public test::LoggerFilesTest {};

TEST_F(TwoLoggersTest, EightThreadsOnTwoLoggersIntoOneFileLoseAndSplitNothing) {
  LogFromEightThreads(/*shareAppender=*/true, 2500);
  LogFromEightThreads(/*shareAppender=*/false, 2500);
}

TEST_F(FileAppenderTest, FourProcessesAppendingToOneFileLoseAndSplitNothing) {
  test::AppendFromProcesses(PathOf("multi.log"), 4, 2, 2500);
}

// The size limit applies to the whole process, so a child writes numbered
// records until one fails, then lifts the limit and writes one more. Only
// whole records, blanks in place of a cut one, and that last may be on disk.
TEST_F(FileAppenderTest, FileSizeLimitGivesACodeLeavesNoPieceOfALineAndWritingResumes) {
  const auto record = [](unsigned n) { return "record " + std::to_string(n) + " " + std::string(90, 'p'); };
  auto appender = MakeAppender(u"FileName = limited.log\n");
  const pid_t pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) {
    // Exits 0 when the records that fit below the limit (whole 100 or 101-byte
    // lines after the mark) are written, the next gives EFBIG's code, and
    // writing resumes once the limit is lifted.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    rlimit lowered = limit;
    lowered.rlim_cur = 4000;
    if (setrlimit(RLIMIT_FSIZE, &lowered) != 0) _exit(2);
    unsigned written = 0;
    ResultCode rc = RC_OK;
    while (written < 2000 &&
           Succeeded(rc = appender->Append(MakeRecord(kSeverityInfo, ToUtf16(record(written)))))) {
      ++written;
    }
    setrlimit(RLIMIT_FSIZE, &limit);
    if (written != 39 || rc != ResultFromErrno(EFBIG)) _exit(3);
    _exit(appender->Append(MakeRecord(kSeverityInfo, u"resumed")) == RC_OK ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(4000u + 9u, ReadFileBytes(PathOf("limited.log")).size()) << "the cut line's bytes stay, blanked";
  const std::vector<std::string> lines = test::ReadLogLines(PathOf("limited.log"));
  unsigned next = 0;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i] == record(next)) {
      ++next;
    } else {
      EXPECT_EQ(std::string::npos, lines[i].find_first_not_of(' ')) << "mangled line: " << lines[i];
    }
  }
  EXPECT_EQ(39u, next);
  EXPECT_EQ("resumed", lines.empty() ? "" : lines.back());
}

}  // namespace
}  // namespace zun
