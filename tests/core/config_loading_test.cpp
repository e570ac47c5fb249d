// Configuration files, texts and reloads reaching a log system.
#include <chrono>

#include "core/log_system_fixture.h"

namespace zun {
namespace {

using test::LogSystemTest;

// A file of one non-additive logger section at a severity; `ahead` moves
// its last-write time that many seconds on, so that a change always shows.
void WriteLogger(const std::filesystem::path& path, const std::string& name, const std::string& severity,
                 int ahead = 0) {
  test::WriteFileBytes(path, "[" + name + "]\nAdditive = no\nSeverity = " + severity + "\n");
  std::filesystem::last_write_time(path,
                                   std::filesystem::last_write_time(path) + std::chrono::seconds(ahead));
}

TEST_F(LogSystemTest, LoadedFilesAreRecordedOnceAndReloaded) {
  WriteLogger(PathOf("privlog.cfg"), "p", "ERROR");
  LoadPrivateConfiguration(system_);
  WriteLogger(PathOf("privlog.cfg"), "p", "FATAL", 5);
  LoadPrivateConfiguration(system_);  // tried once only
  WriteLogger(PathOf("one.cfg"), "one", "ERROR");
  WriteLogger(PathOf("two.cfg"), "two", "ERROR");
  ASSERT_RC(RC_OK, LoadSourceFile(system_, u"one.cfg", folder_, folder_));
  ASSERT_RC(RC_OK, LoadSourceFile(system_, u"one.cfg", folder_, u"logs"));
  ASSERT_RC(RC_OK, LoadSourceFile(system_, u"two.cfg", folder_, folder_));
  EXPECT_RC(RC_FILE_NOT_FOUND, LoadSourceFile(system_, u"missing.cfg", folder_, folder_));
  ASSERT_RC(RC_OK, Apply(u"[text]\nAdditive = no\nSeverity = ERROR\n"));
  ASSERT_EQ(3u, system_.Sources().size());  // one.cfg, privlog.cfg, two.cfg
  const ConfigSource& one = system_.Sources().begin()->second;
  EXPECT_EQ(u"one.cfg", one.givenName);
  EXPECT_EQ(PathOf("one.cfg").string(), ToUtf8(one.fullPath));
  EXPECT_EQ(u"logs", one.logFolder);
  EXPECT_EQ(kSeverityError, ThresholdOf(u"p"));

  const WString allDebug =
      u"[one]\nAdditive = no\nSeverity = DEBUG\n[two]\nAdditive = no\nSeverity = DEBUG\n"
      u"[text]\nAdditive = no\nSeverity = DEBUG\n";
  ASSERT_RC(RC_OK, Apply(allDebug));
  std::filesystem::remove(PathOf("one.cfg"));
  EXPECT_RC(RC_OK, ReloadConfiguration(system_));
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"one"));  // gone: skipped
  EXPECT_EQ(kSeverityError, ThresholdOf(u"two"));
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"text"));  // texts are not recorded
  EXPECT_EQ(kSeverityFatal, ThresholdOf(u"p"));

  // Only files whose last-write time changed are applied, once per change.
  ASSERT_RC(RC_OK, Apply(allDebug));
  WriteLogger(PathOf("two.cfg"), "two", "WARN", 10);
  ReloadChangedConfiguration(system_);
  EXPECT_EQ(kSeverityWarn, ThresholdOf(u"two"));
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"text"));
  ASSERT_RC(RC_OK, Apply(allDebug));
  ReloadChangedConfiguration(system_);
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"two"));
}

}  // namespace
}  // namespace zun
