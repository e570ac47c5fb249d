#include "appenders/rolling_file_appender.h"

#include "appenders/appender_factory.h"
#include "appenders/appender_fixtures.h"
#include "appenders/rolling_date_file_appender.h"
#include "platform/file_lock.h"

namespace zun {
namespace {

namespace fs = std::filesystem;
using test::MakeLayout;
using test::MakeRecord;
using test::ReadFileBytes;
using test::SectionFromText;

class RollingFileAppenderTest : public test::TempDirTest {
 protected:
  std::unique_ptr<RollingFileAppender> Make(WStringView keys, const Layout* layout = nullptr) {
    std::unique_ptr<RollingFileAppender> appender;
    EXPECT_RC(RC_OK, RollingFileAppender::Create(&owner_, u"r", ToUtf16(Dir().string()), &appender));
    EXPECT_RC(RC_OK, appender->LoadConfig(*SectionFromText(u"[r]\nFileName = common.log\n" + WString(keys))));
    appender->AttachLayout(layout != nullptr ? layout : layout_.get());
    return appender;
  }
  std::set<std::string> Names() const { return test::FileNames(Dir()); }

  test::RecordingOwner owner_;
  std::unique_ptr<CustomLayout> layout_ = MakeLayout(u"Format = %msg\n");
};

TEST_F(RollingFileAppenderTest, TheLineThatPassesTheLimitEndsTheLogWithItsFooter) {
  auto layout = MakeLayout(u"Format = %msg\nHeader = h\nFooter = f\n");
  // The header and the first line (63 bytes after the mark) reach the limit, not past it.
  auto appender = Make(u"Size = 63\n", layout.get());
  const WString line(58, u'x');  // 60 bytes with CR LF
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"1" + line.substr(1))));
  EXPECT_FALSE(fs::exists(PathOf("common.log.1")));
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"2" + line.substr(1))));
  EXPECT_FALSE(appender->IsOpened());
  EXPECT_FALSE(fs::exists(PathOf("common.log")));
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"3")));
  const std::string x57(57, 'x');
  EXPECT_EQ("\xEF\xBB\xBFh\r\n1" + x57 + "\r\n2" + x57 + "\r\nf\r\n", ReadFileBytes(PathOf("common.log.1")));
  EXPECT_EQ("\xEF\xBB\xBFh\r\n3\r\n", ReadFileBytes(PathOf("common.log")));
  EXPECT_EQ(std::vector<WString>{WidePath("common.log.1")}, owner_.rolled);
  EXPECT_EQ(std::vector<WString>(2, WidePath("common.log")), owner_.opened);
}

TEST_F(RollingFileAppenderTest, BackupsBeyondTheCountGoAndTheNewestIsOne) {
  const struct {
    WStringView keys;
    std::set<std::string> names;
  } kCases[] = {
      {u"FilesCount = 3\n", {"common.log.1", "common.log.2", "common.log.3", "common.log.lock"}},
      {u"FilesCount = 0\n", {"common.log.lock"}},
  };
  for (const auto& c : kCases) {
    auto appender = Make(WString(u"Size = 0\n") + WString(c.keys));
    for (char n = '1'; n <= '5'; ++n)
      ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, WString(1, char16_t(n)))));
    EXPECT_EQ(c.names, Names());
    if (c.names.size() > 1) {
      EXPECT_EQ(std::vector<std::string>{"5"}, test::ReadLogLines(PathOf("common.log.1")));
      EXPECT_EQ(std::vector<std::string>{"3"}, test::ReadLogLines(PathOf("common.log.3")));
    }
    appender.reset();
    for (const std::string& name : c.names) fs::remove(PathOf(name));
  }
}

TEST_F(RollingFileAppenderTest, ALowerCountRemovesTheSurplusBackupsOfTheNameInEffect) {
  for (int n = 1; n <= 11; ++n) test::WriteFileBytes(PathOf("common.log." + std::to_string(n)), "b");
  // The first configuration has no file name yet to remove backups of.
  std::unique_ptr<RollingFileAppender> appender;
  ASSERT_RC(RC_OK, RollingFileAppender::Create(&owner_, u"r", ToUtf16(Dir().string()), &appender));
  ASSERT_RC(RC_OK, appender->LoadConfig(*SectionFromText(u"[r]\nFilesCount = 10\nFileName = common.log\n")));
  EXPECT_EQ(11u, Names().size());
  ASSERT_RC(RC_OK, appender->LoadConfig(*SectionFromText(u"[r]\nFilesCount = 2\nFileName = other.log\n")));
  EXPECT_EQ((std::set<std::string>{"common.log.1", "common.log.2", "common.log.11"}), Names());
  EXPECT_EQ(2u, appender->FilesCount());
}

// Both rolling types: each key's code, and what SaveConfig writes of the
// appender's own keys (in table order) after the load.
TEST(RollingConfiguration, KeysGiveTheirCodesAndSaveBackWhatWasStored) {
  const struct {
    WStringView type, keys;
    ResultCode rc;
    const char* saved;
  } kCases[] = {
      {u"RollingFile", u"FileName = a", RC_OK, "AppenderType=RollingFile FilesCount=10 Size=1048576"},
      {u"RollingFile", u"AppenderType = RollingFile\nSize = 0x400\nFilesCount = 3 backups\nFileName = a",
       RC_OK, "AppenderType=RollingFile FilesCount=3 Size=1024"},
      {u"RollingFile", u"AppenderType = File\nSize = 5\nFileName = a", RC_APPENDER_TYPE_MISMATCH,
       "AppenderType=RollingFile FilesCount=10 Size=1048576"},
      {u"RollingFile", u"Size = -5\nFilesCount = 3\nFileName = a", RC_INVALID_PARAMETER,
       "AppenderType=RollingFile FilesCount=10 Size=1048576"},
      {u"RollingFile", u"Size = 7\nFilesCount = -3\nFileName = a", RC_INVALID_PARAMETER,
       "AppenderType=RollingFile FilesCount=10 Size=7"},
      {u"RollingFile", u"Size = 7", RC_ITEM_NOT_PRESENT, "AppenderType=RollingFile FilesCount=10 Size=7"},
      {u"RollingDateFile", u"AppenderType = RollingDateFile\nFileName = a", RC_OK,
       "AppenderType=RollingDateFile DaysCount=0"},
      {u"RollingDateFile", u"AppenderType = RollingDateFile\nFilesCount = 5\nFileName = a", RC_OK,
       "AppenderType=RollingDateFile FilesCount=5"},
      {u"RollingDateFile", u"AppenderType = RollingDateFile\nDaysCount = 0x7\nFileName = a", RC_OK,
       "AppenderType=RollingDateFile DaysCount=7"},
      {u"RollingDateFile", u"AppenderType = RollingDateFile\nFilesCount = 3\nDaysCount = 3\nFileName = a",
       RC_INVALID_PARAMETER, "AppenderType=RollingDateFile DaysCount=0"},
      {u"RollingDateFile", u"AppenderType = RollingDateFile\nDaysCount = -1\nFileName = a",
       RC_INVALID_PARAMETER, "AppenderType=RollingDateFile DaysCount=0"},
      {u"RollingDateFile", u"FileName = a", RC_ITEM_NOT_PRESENT, "AppenderType=RollingDateFile DaysCount=0"},
      {u"RollingDateFile", u"AppenderType = RollingFile\nFileName = a", RC_APPENDER_TYPE_MISMATCH,
       "AppenderType=RollingDateFile DaysCount=0"},
  };
  for (const auto& c : kCases) {
    AppenderRef appender;
    ASSERT_RC(RC_OK, CreateAppender(c.type, nullptr, u"r", u"/logs", &appender));
    EXPECT_RC(c.rc, appender->LoadConfig(*SectionFromText(u"[r]\n" + WString(c.keys) + u"\n")))
        << ToUtf8(c.keys);
    ConfigSectionRef saved;
    ASSERT_RC(RC_OK, ConfigSection::Create(u"r", &saved));
    ASSERT_RC(RC_OK, appender->SaveConfig(*saved));
    std::string keys;
    for (const auto& [name, key] : saved->Keys()) {
      if (name.ends_with(u"Type") && name != u"AppenderType") continue;
      if (name == u"BreakSeverity" || name == u"FileName" || name == u"ImmediateWrite") continue;
      keys += (keys.empty() ? "" : " ") + ToUtf8(name) + "=" + ToUtf8(key->Value());
    }
    EXPECT_EQ(c.saved, keys) << ToUtf8(c.keys);
  }
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
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"first line")));
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"second")));
  EXPECT_EQ((std::set<std::string>{"common.log", "common.log.lock"}), Names());
  ASSERT_RC(RC_OK, other.Unlock());
  ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"third")));
  EXPECT_EQ((std::vector<std::string>{"h", "first line", "second", "third", "f"}),
            test::ReadLogLines(PathOf("common.log.1")));
}

// Two appenders of one log, as two processes have: the one that did not roll
// writes its next line into the new log, not into the backup.
TEST_F(RollingFileAppenderTest, AWriterMovesToTheNewLogBeforeItsNextLine) {
  auto roller = Make(u"Size = 40\n");
  auto other = Make(u"Size = 40\n");
  ASSERT_RC(RC_OK, other->Append(MakeRecord(kSeverityInfo, u"other 1")));
  ASSERT_RC(RC_OK, roller->Append(MakeRecord(kSeverityInfo, u"roller 1")));
  ASSERT_RC(RC_OK, roller->Append(MakeRecord(kSeverityInfo, u"roller 2 rolls the log")));
  ASSERT_TRUE(fs::exists(PathOf("common.log.1")));
  ASSERT_RC(RC_OK, other->Append(MakeRecord(kSeverityInfo, u"other 2")));
  ASSERT_RC(RC_OK, roller->Append(MakeRecord(kSeverityInfo, u"roller 3")));
  EXPECT_EQ((std::vector<std::string>{"other 1", "roller 1", "roller 2 rolls the log"}),
            test::ReadLogLines(PathOf("common.log.1")));
  EXPECT_EQ((std::vector<std::string>{"other 2", "roller 3"}), test::ReadLogLines(PathOf("common.log")));
}

// The file calls a test sees: writes, and any other that a line could make.
int gWrites = 0, gOtherCalls = 0;
test::FileCallsOverride CountingCalls() {
  test::FileCallsOverride counting;
  counting.calls.write = [](int fd, const void* data, size_t n) {
    return ++gWrites, RealFileCalls().write(fd, data, n);
  };
  counting.calls.fstat = [](int fd, struct stat* out) {
    return ++gOtherCalls, RealFileCalls().fstat(fd, out);
  };
  counting.calls.stat = [](const char* path, struct stat* out) {
    return ++gOtherCalls, RealFileCalls().stat(path, out);
  };
  counting.calls.open = [](const char* path, int flags, mode_t mode) {
    return ++gOtherCalls, RealFileCalls().open(path, flags, mode);
  };
  return counting;
}

// Below the limit a line costs its write and nothing else: the size comes
// from the lock file's shared count, not from the file. The line that
// passes the limit has the file confirm it.
TEST_F(RollingFileAppenderTest, BelowTheLimitALineCostsItsWriteAlone) {
  std::unique_ptr<RollingFileAppender> sized;
  std::unique_ptr<RollingDateFileAppender> dated;
  ASSERT_RC(RC_OK, RollingFileAppender::Create(nullptr, u"r", ToUtf16(Dir().string()), &sized));
  ASSERT_RC(RC_OK, RollingDateFileAppender::Create(nullptr, u"d", ToUtf16(Dir().string()), &dated));
  ASSERT_RC(RC_OK, sized->LoadConfig(*SectionFromText(u"[r]\nFileName = sized.log\nSize = 2000\n")));
  ASSERT_RC(RC_OK, dated->LoadConfig(
                       *SectionFromText(u"[d]\nAppenderType = RollingDateFile\nFileName = dated.log\n")));
  test::FileCallsOverride counting = CountingCalls();
  counting.Install();
  for (Appender* appender : std::initializer_list<Appender*>{sized.get(), dated.get()}) {
    appender->AttachLayout(layout_.get());
    ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"opens the file")));
    gWrites = gOtherCalls = 0;
    for (int n = 0; n < 100; ++n) {
      ASSERT_RC(RC_OK, appender->Append(MakeRecord(kSeverityInfo, u"0123456789")));
    }
    EXPECT_EQ(100, gWrites);
    EXPECT_EQ(0, gOtherCalls);
  }
  ASSERT_RC(RC_OK, sized->Append(MakeRecord(kSeverityInfo, WString(900, u'x'))));
  EXPECT_LT(0, gOtherCalls);
  EXPECT_TRUE(fs::exists(PathOf("sized.log.1")));
}

// Two appenders of one log in one process, each used by two threads: the
// appenders share the lock file's block as processes do.
TEST_F(RollingFileAppenderTest, ThreadsOfOneProcessShareALogThroughTwoAppenders) {
  std::unique_ptr<RollingFileAppender> appenders[2] = {Make(u"Size = 16384\nFilesCount = 100\n"),
                                                       Make(u"Size = 16384\nFilesCount = 100\n")};
  constexpr unsigned kLines = 2000;
  test::RunThreads(4, [&](unsigned t) {
    for (unsigned n = 0; n < kLines; ++n)
      EXPECT_RC(RC_OK, appenders[t % 2]->Append(MakeRecord(kSeverityInfo, test::AppendLineText(t, n))));
  });
  for (auto& appender : appenders) appender->Close();
  test::ExpectEveryLineOnce(test::ReadRolledLines(Dir()),
                            {{0, kLines}, {1, kLines}, {2, kLines}, {3, kLines}});
  EXPECT_GT(Names().size(), 10u);
}

class RollingFileProcessesTest : public test::TempDirTest {};

TEST_F(RollingFileProcessesTest, ProcessesShareALogWithoutLosingOrSplittingALine) {
  test::ShareSizeRolledLog(Dir(), 4, 3000, 32768);
}

TEST_F(RollingFileProcessesTest, AWriterKilledInTheMiddleOfARollBlocksNobody) {
  test::ShareSizeRolledLog(Dir(), 4, 3000, 32768, 2);
}

}  // namespace
}  // namespace zun
