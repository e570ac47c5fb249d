#include "appenders/rolling_date_file_appender.h"

#include "appenders/appender_fixtures.h"
#include "platform/clock.h"
#include "platform/file_moves.h"

namespace zun {
namespace {

namespace fs = std::filesystem;
using test::AppendInfo;
using test::At;
using test::MakeLayout;
using test::ReadFileBytes;

FileTime gNow = 0;
std::uint64_t gTicks = 0;
const ClockSource kTestClock{[] { return gNow; }, [] { return gTicks; }};

class RollingDateFileAppenderTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    SetClockSource(&kTestClock);
  }
  void TearDown() override {
    SetClockSource(nullptr);
    TempDirTest::TearDown();
  }
  std::unique_ptr<RollingDateFileAppender> Make(WStringView keys, const fs::path& folder,
                                                const Layout* layout = nullptr) {
    return test::MakeFileAppender<RollingDateFileAppender>(&owner_, folder,
                                                           u"FileName = common.log\n" + WString(keys),
                                                           layout != nullptr ? layout : layout_.get());
  }

  test::RecordingOwner owner_;
  std::unique_ptr<CustomLayout> layout_ = MakeLayout(u"Format = %msg\n");
};

TEST_F(RollingDateFileAppenderTest, TheFirstRecordAfterTheFirstMillisecondOfADayRollsTheLog) {
  auto layout = MakeLayout(u"Format = %msg\nHeader = h\nFooter = f\n");
  auto appender = Make(u"FilesCount = 5\n", Dir(), layout.get());
  gNow = At(2019, 3, 7, 23, 59, 59, 900);
  AppendInfo(*appender, u"a");
  gNow = At(2019, 3, 8) + 5000;  // half a millisecond into the day
  AppendInfo(*appender, u"b");
  gNow = At(2019, 3, 8) + 10000;
  AppendInfo(*appender, u"c");
  EXPECT_EQ("\xEF\xBB\xBFh\r\na\r\nb\r\nf\r\n", ReadFileBytes(PathOf("common.2019-03-07.log")));
  EXPECT_EQ("\xEF\xBB\xBFh\r\nc\r\n", ReadFileBytes(PathOf("common.log")));
  EXPECT_EQ(std::vector<WString>{WidePath("common.2019-03-07.log")}, owner_.rolled);
}

// The dated name of the log's creation day may be taken: the log is written
// on as it stands and the roll tried again a second later.
TEST_F(RollingDateFileAppenderTest, ALogLeftFromAnEarlierDayIsRolledBeforeItsFirstLine) {
  ASSERT_RC(RC_OK, CreateFileWithContent(WidePath("common.log"), "\xEF\xBB\xBFold\r\n", At(2019, 3, 7, 10)));
  test::WriteFileBytes(PathOf("common.2019-03-07.log"), "taken");
  gNow = At(2019, 3, 8, 9);
  auto appender = Make(u"FilesCount = 5\n", Dir());
  AppendInfo(*appender, u"new 1");
  AppendInfo(*appender, u"new 2");
  EXPECT_EQ("taken", ReadFileBytes(PathOf("common.2019-03-07.log")));
  fs::remove(PathOf("common.2019-03-07.log"));
  gTicks += 1000;
  AppendInfo(*appender, u"new 3");
  EXPECT_EQ((std::vector<std::string>{"old", "new 1", "new 2"}),
            test::ReadLogLines(PathOf("common.2019-03-07.log")));
  EXPECT_EQ(std::vector<std::string>{"new 3"}, test::ReadLogLines(PathOf("common.log")));
}

TEST_F(RollingDateFileAppenderTest, RetentionKeepsExactlyTheCountOrTheAgeAndNothingElse) {
  const std::set<std::string> kOthers = {
      "common.log",   "common.log.lock",      "common.notes.log",       "common.a-b-c.log",
      "common.log.1", "other.2019-03-01.log", "common.2019-03-01.log.1"};
  const struct {
    WStringView keys;
    int firstKept;  // the oldest dated day that stays; 9: none
  } kCases[] = {{u"FilesCount = 5\n", 4}, {u"DaysCount = 7\n", 3}, {u"", 9}, {u"FilesCount = 20\n", 1}};
  int folder = 0;
  for (const auto& c : kCases) {
    const fs::path dir = Dir() / std::to_string(folder++);
    fs::create_directory(dir);
    for (int day = 1; day <= 7; ++day) {
      const std::string name = "common.2019-03-0" + std::to_string(day) + ".log";
      ASSERT_RC(RC_OK, CreateFileWithContent(ToUtf16((dir / name).string()), "", At(2019, 3, day)));
    }
    for (const std::string& name : kOthers) test::WriteFileBytes(dir / name, "");
    ASSERT_RC(RC_OK, DeleteFile(ToUtf16((dir / "common.log").string())));
    ASSERT_RC(RC_OK, CreateFileWithContent(ToUtf16((dir / "common.log").string()), "\xEF\xBB\xBF",
                                           At(2019, 3, 8, 8)));
    gNow = At(2019, 3, 9, 12);
    auto appender = Make(c.keys, dir);
    AppendInfo(*appender, u"x");
    std::set<std::string> expected = kOthers;
    for (int day = c.firstKept; day <= 8; ++day)
      expected.insert("common.2019-03-0" + std::to_string(day) + ".log");
    EXPECT_EQ(expected, test::FileNames(dir)) << ToUtf8(c.keys);
  }
}

TEST_F(RollingDateFileAppenderTest, ProcessesShareALogAcrossMidnightsWithoutLosingOrSplittingALine) {
  test::ShareRolledLog(Dir(), 4, 2000, 0, 0, At(2019, 3, 7, 23, 59, 59), 50000000);
}

}  // namespace
}  // namespace zun
