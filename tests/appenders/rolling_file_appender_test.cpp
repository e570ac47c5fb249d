#include "appenders/rolling_file_appender.h"

#include "appenders/appender_fixtures.h"
#include "platform/file_lock.h"

namespace zun {
namespace {

namespace fs = std::filesystem;
using test::AppendInfo;
using test::MakeLayout;
using test::ReadLogLines;

class RollingFileAppenderTest : public test::TempDirTest {
 protected:
  std::unique_ptr<RollingFileAppender> Make(WStringView keys, const Layout* layout = nullptr) {
    return test::MakeFileAppender<RollingFileAppender>(&owner_, Dir(),
                                                       u"FileName = common.log\n" + WString(keys),
                                                       layout != nullptr ? layout : layout_.get());
  }
  std::set<std::string> Names() const { return test::FileNames(Dir()); }

  test::RecordingOwner owner_;
  std::unique_ptr<CustomLayout> layout_ = MakeLayout(u"Format = %msg\n");
};

TEST_F(RollingFileAppenderTest, TheLineThatPassesTheLimitEndsTheLogWithItsFooter) {
  auto layout = MakeLayout(u"Format = %msg\nHeader = h\nFooter = f\n");
  // The header and the first line (63 bytes after the mark) reach the limit, not past it.
  auto appender = Make(u"Size = 63\n", layout.get());
  const std::string x57(57, 'x');
  AppendInfo(*appender, ToUtf16("1" + x57));  // 60 bytes with CR LF
  AppendInfo(*appender, ToUtf16("2" + x57));
  EXPECT_FALSE(fs::exists(PathOf("common.log"))) << "rolled at once";
  AppendInfo(*appender, u"3");
  EXPECT_EQ("\xEF\xBB\xBFh\r\n1" + x57 + "\r\n2" + x57 + "\r\nf\r\n",
            test::ReadFileBytes(PathOf("common.log.1")));
  EXPECT_EQ("\xEF\xBB\xBFh\r\n3\r\n", test::ReadFileBytes(PathOf("common.log")));
  EXPECT_EQ(std::vector<WString>{WidePath("common.log.1")}, owner_.rolled);
  EXPECT_EQ(std::vector<WString>(2, WidePath("common.log")), owner_.opened);
}

int gRenames = 0;
int CountedRename(const char* from, const char* to) {
  return ++gRenames, RealFileCalls().renameNoReplace(from, to);
}

// Size 0 rolls after every line. A roll renames the backups there are, not
// every number the count allows; a surplus backup goes through a temporary
// name.
TEST_F(RollingFileAppenderTest, BackupsBeyondTheCountGoAndTheNewestIsOne) {
  const struct {
    WStringView keys;
    int backups, renames;
  } kCases[] = {
      {u"FilesCount = 3\n", 3, 14}, {u"FilesCount = 0\n", 0, 0}, {u"FilesCount = 1000000\n", 5, 15}};
  test::FileCallsOverride counting;
  counting.calls.renameNoReplace = CountedRename;
  counting.Install();
  for (const auto& c : kCases) {
    auto appender = Make(u"Size = 0\n" + WString(c.keys));
    gRenames = 0;
    for (char n = '1'; n <= '5'; ++n) AppendInfo(*appender, WString(1, char16_t(n)));
    EXPECT_EQ(c.renames, gRenames) << ToUtf8(c.keys);
    std::set<std::string> names = {"common.log.lock"};
    for (int n = 1; n <= c.backups; ++n) {
      const std::string name = *names.insert("common.log." + std::to_string(n)).first;
      EXPECT_EQ(std::vector<std::string>{std::to_string(6 - n)}, ReadLogLines(PathOf(name)));
    }
    EXPECT_EQ(names, Names()) << ToUtf8(c.keys);
    appender.reset();
    for (const std::string& name : names) fs::remove(PathOf(name));
  }
}

TEST_F(RollingFileAppenderTest, ALowerCountRemovesTheSurplusBackupsOfTheNameInEffect) {
  for (int n = 1; n <= 11; ++n) test::WriteFileBytes(PathOf("common.log." + std::to_string(n)), "b");
  // The first configuration has no file name yet to remove backups of.
  auto appender = Make(u"FilesCount = 10\n");
  ASSERT_RC(RC_OK,
            appender->LoadConfig(*test::SectionFromText(u"[r]\nFilesCount = 2\nFileName = other.log\n")));
  EXPECT_EQ((std::set<std::string>{"common.log.1", "common.log.2", "common.log.11"}), Names());
}

// While another holder has the lock, a full log is closed and reopened as it
// is; once the lock is free the next full line rolls it.
TEST_F(RollingFileAppenderTest, ALockHeldElsewhereLeavesTheRollToItsHolder) {
  FileLock other;
  ASSERT_RC(RC_OK, other.Open(WidePath("common.log.lock")));
  ASSERT_RC(RC_OK, other.TryLock());
  // Refused, the writer writes on with no footer and header between its lines.
  auto layout = MakeLayout(u"Format = %msg\nHeader = h\nFooter = f\n");
  auto appender = Make(u"Size = 10\n", layout.get());
  AppendInfo(*appender, u"first line");
  AppendInfo(*appender, u"second");
  EXPECT_EQ((std::set<std::string>{"common.log", "common.log.lock"}), Names());
  ASSERT_RC(RC_OK, other.Unlock());
  AppendInfo(*appender, u"third");
  EXPECT_EQ((std::vector<std::string>{"h", "first line", "second", "third", "f"}),
            ReadLogLines(PathOf("common.log.1")));
}

// Two appenders of one log, as two processes have: the one that did not roll
// writes its next line into the new log, not into the backup.
TEST_F(RollingFileAppenderTest, AWriterMovesToTheNewLogBeforeItsNextLine) {
  auto roller = Make(u"Size = 40\n");
  auto other = Make(u"Size = 40\n");
  AppendInfo(*other, u"other 1");
  AppendInfo(*roller, u"roller 1");
  AppendInfo(*roller, u"roller 2 rolls the log");
  ASSERT_TRUE(fs::exists(PathOf("common.log.1")));
  AppendInfo(*other, u"other 2");
  AppendInfo(*roller, u"roller 3");
  EXPECT_EQ((std::vector<std::string>{"other 1", "roller 1", "roller 2 rolls the log"}),
            ReadLogLines(PathOf("common.log.1")));
  EXPECT_EQ((std::vector<std::string>{"other 2", "roller 3"}), ReadLogLines(PathOf("common.log")));
}

// Two appenders of one log in one process, each used by two threads: the
// appenders share the lock file's block as processes do.
TEST_F(RollingFileAppenderTest, ThreadsOfOneProcessShareALogThroughTwoAppenders) {
  std::unique_ptr<RollingFileAppender> appenders[2] = {Make(u"Size = 16384\nFilesCount = 100\n"),
                                                       Make(u"Size = 16384\nFilesCount = 100\n")};
  constexpr unsigned kLines = 2000;
  test::RunThreads(4, [&](unsigned t) {
    for (unsigned n = 0; n < kLines; ++n) AppendInfo(*appenders[t % 2], test::AppendLineText(t, n));
  });
  for (auto& appender : appenders) appender->Close();
  test::ExpectEveryLineOnce(test::ReadRolledLines(Dir()),
                            {{0, kLines}, {1, kLines}, {2, kLines}, {3, kLines}});
  EXPECT_GT(Names().size(), 10u);
}

// Processes share a log without losing or splitting a line, also when one
// of them is killed in the middle of a roll.
TEST_F(RollingFileAppenderTest, ProcessesShareALogAndAWriterKilledInARollBlocksNobody) {
  for (const unsigned dieAtRoll : {0u, 2u}) {
    const fs::path dir = Dir() / std::to_string(dieAtRoll);
    fs::create_directory(dir);
    test::ShareRolledLog(dir, 4, 3000, 32768, dieAtRoll);
  }
}

}  // namespace
}  // namespace zun
