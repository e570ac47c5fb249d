// Configuration files, texts and reloads reaching a log system, and the
// temporary files of a log folder.
#include <algorithm>
#include <chrono>

#include "core/log_system_fixture.h"

namespace zun {
namespace {

using test::LogSystemTest;

// A non-additive logger section at a severity.
std::string LoggerAt(const std::string& name, const std::string& severity) {
  return "[" + name + "]\nAdditive = no\nSeverity = " + severity + "\n";
}

class LoadingTest : public LogSystemTest {
 protected:
  Severity ThresholdOf(WStringView name) {
    Logger* logger = Find(name);
    return logger != nullptr ? logger->Threshold() : -1;
  }
  std::vector<std::string> SourceNames() {
    std::vector<std::string> names;
    for (const auto& [name, source] : system_.Sources()) names.push_back(ToUtf8(name));
    return names;
  }
  void Touch(const std::string& name, int secondsAhead) {
    const auto path = PathOf(name);
    std::filesystem::last_write_time(
        path, std::filesystem::last_write_time(path) + std::chrono::seconds(secondsAhead));
  }
};

TEST_F(LoadingTest, EachLoadedFileIsRecordedOnceUnderItsGivenName) {
  WriteConfig("my.cfg", LoggerAt("mine", "ERROR"));
  ASSERT_RC(RC_OK, Load(u"my.cfg"));
  ASSERT_RC(RC_OK, Load(u"my.cfg"));
  ASSERT_EQ(std::vector<std::string>{"my.cfg"}, SourceNames());
  const ConfigSource& source = system_.Sources().begin()->second;
  EXPECT_EQ(PathOf("my.cfg").string(), ToUtf8(source.fullPath));
  EXPECT_EQ(folder_, source.logFolder);
  EXPECT_NE(0u, source.lastWriteTime);
  EXPECT_EQ(kSeverityError, ThresholdOf(u"mine"));

  // A file that cannot be opened is not recorded; one that fails to apply is.
  EXPECT_RC(RC_FILE_NOT_FOUND, Load(u"missing.cfg"));
  WriteConfig("bad.cfg", "[root]\nAddAppenders = nowhere\n");
  EXPECT_RC(RC_APPENDER_NOT_FOUND, LoadSourceFile(system_, WidePath("bad.cfg"), u"/nowhere", folder_));
  EXPECT_EQ((std::vector<std::string>{PathOf("bad.cfg").string(), "my.cfg"}), SourceNames());
  // Texts are applied, never recorded.
  EXPECT_RC(RC_OK, Apply(u"[text]\n"));
  EXPECT_EQ(2u, system_.Sources().size());
}

TEST_F(LoadingTest, ReloadAppliesLoadedFilesAgainAndSkipsDeletedOnes) {
  WriteConfig("one.cfg", LoggerAt("r1", "ERROR"));
  WriteConfig("two.cfg", LoggerAt("r2", "ERROR"));
  ASSERT_RC(RC_OK, Load(u"one.cfg"));
  ASSERT_RC(RC_OK, Load(u"two.cfg"));
  ASSERT_RC(RC_OK, Apply(ToUtf16(LoggerAt("text", "ERROR"))));
  ASSERT_RC(RC_OK,
            Apply(ToUtf16(LoggerAt("r1", "DEBUG") + LoggerAt("r2", "DEBUG") + LoggerAt("text", "DEBUG"))));
  std::filesystem::remove(PathOf("one.cfg"));

  EXPECT_RC(RC_OK, ReloadConfiguration(system_));
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"r1"));
  EXPECT_EQ(kSeverityError, ThresholdOf(u"r2"));
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"text"));
}

TEST_F(LoadingTest, ChangedFilesAreAppliedOncePerChange) {
  WriteConfig("a.cfg", LoggerAt("a", "ERROR"));
  WriteConfig("b.cfg", LoggerAt("b", "ERROR"));
  ASSERT_RC(RC_OK, Load(u"a.cfg"));
  ASSERT_RC(RC_OK, Load(u"b.cfg"));
  const std::u16string allDebug = ToUtf16(LoggerAt("a", "DEBUG") + LoggerAt("b", "DEBUG"));
  ASSERT_RC(RC_OK, Apply(allDebug));

  ReloadChangedConfiguration(system_);
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"a"));
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"b"));

  WriteConfig("a.cfg", LoggerAt("a", "WARN"));
  Touch("a.cfg", 10);
  ReloadChangedConfiguration(system_);
  EXPECT_EQ(kSeverityWarn, ThresholdOf(u"a"));
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"b"));

  // A file that fails to apply is recorded as seen and waits for its next
  // change; so does one that was deleted.
  ASSERT_RC(RC_OK, Apply(allDebug));
  WriteConfig("a.cfg", LoggerAt("a", "FATAL") + "[z]\nAddAppenders = nowhere\n");
  Touch("a.cfg", 20);
  std::filesystem::remove(PathOf("b.cfg"));
  ReloadChangedConfiguration(system_);
  EXPECT_EQ(kSeverityFatal, ThresholdOf(u"a"));
  ASSERT_RC(RC_OK, Apply(allDebug));
  ReloadChangedConfiguration(system_);
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"a"));
  EXPECT_EQ(kSeverityDebug, ThresholdOf(u"b"));
}

TEST_F(LoadingTest, PrivateConfigurationIsTriedOnceFromTheSystemsFolder) {
  WriteConfig("privlog.cfg", LoggerAt("private", "ERROR"));
  LoadPrivateConfiguration(system_);
  EXPECT_TRUE(system_.PrivateConfigurationTried());
  EXPECT_EQ(kSeverityError, ThresholdOf(u"private"));
  EXPECT_EQ(std::vector<std::string>{"privlog.cfg"}, SourceNames());

  WriteConfig("privlog.cfg", LoggerAt("private", "FATAL"));
  LoadPrivateConfiguration(system_);
  EXPECT_EQ(kSeverityError, ThresholdOf(u"private"));

  // Missing, it is still tried only once, and nothing is recorded.
  LogSystem other;
  ASSERT_RC(RC_OK, other.Start(u"/nonexistent", folder_));
  LoadPrivateConfiguration(other);
  EXPECT_TRUE(other.PrivateConfigurationTried());
  EXPECT_TRUE(other.Sources().empty());
}

TEST_F(LoadingTest, OnlyTemporaryFilesOfTheFolderItselfAreDeleted) {
  for (const char* name : {"zun-1.tmp", "ZUN-2.TMP", "zun-3.tmpx", "other.tmp", "zun-.tmp.log"}) {
    test::WriteFileBytes(PathOf(name), "x");
  }
  std::filesystem::create_directories(PathOf("zun-dir.tmp/zun-inner.tmp"));
  DeleteTemporaryFiles(folder_);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(Dir())) {
    left.push_back(std::filesystem::relative(entry.path(), Dir()).string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ((std::vector<std::string>{"other.tmp", "zun-.tmp.log", "zun-3.tmpx", "zun-dir.tmp",
                                      "zun-dir.tmp/zun-inner.tmp"}),
            left);
}

}  // namespace
}  // namespace zun
