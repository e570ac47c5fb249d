// A roll renames the backups that exist, not every number the count allows.
#include "appenders/appender_fixtures.h"
#include "appenders/rolling_file_appender.h"

namespace zun {
namespace {

int gRenames = 0;
int (*gRealRename)(const char*, const char*) = nullptr;
int CountedRename(const char* from, const char* to) {
  ++gRenames;
  return gRealRename(from, to);
}

class RollingFileBackupsTest : public test::TempDirTest {};

TEST_F(RollingFileBackupsTest, ARollWithAVastCountRenamesOnlyTheBackupsThere) {
  test::RecordingOwner owner;
  auto layout = test::MakeLayout(u"Format = %msg\n");
  std::unique_ptr<RollingFileAppender> appender;
  ASSERT_RC(RC_OK, RollingFileAppender::Create(&owner, u"r", WidePath(""), &appender));
  ASSERT_RC(RC_OK, appender->LoadConfig(*test::SectionFromText(
                       u"[r]\nFileName = common.log\nSize = 0\nFilesCount = 1000000\n")));
  appender->AttachLayout(layout.get());
  test::FileCallsOverride calls;
  gRealRename = calls.calls.renameNoReplace;
  calls.calls.renameNoReplace = CountedRename;
  calls.Install();
  for (const char16_t* text : {u"1", u"2", u"3"}) {
    ASSERT_RC(RC_OK, appender->Append(test::MakeRecord(kSeverityInfo, text)));
  }
  EXPECT_EQ(1 + 2 + 3, gRenames);
  EXPECT_EQ(
      "\xEF\xBB\xBF"
      "1\r\n",
      test::ReadFileBytes(PathOf("common.log.3")));
  EXPECT_EQ(
      "\xEF\xBB\xBF"
      "3\r\n",
      test::ReadFileBytes(PathOf("common.log.1")));
}

}  // namespace
}  // namespace zun
