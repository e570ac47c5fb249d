#include "appenders/rolling_names.h"

#include "appenders/appender_fixtures.h"

namespace zun {
namespace {

TEST(RollingNames, BackupDatedAndTemporaryNamesKeepTheFolderAndTheDateGoesBeforeTheExtension) {
  EXPECT_EQ(u"/var/log/common.log.10", BackupName(u"/var/log/common.log", 10));
  const struct {
    WStringView path, dated, pattern;
  } kCases[] = {
      {u"/var/log/common.log", u"/var/log/common.2019-03-07.log", u"common.*-*-*.log"},
      {u"/a.b/trace", u"/a.b/trace.2019-03-07", u"trace.*-*-*"},
      {u"/x/.hidden", u"/x/.hidden.2019-03-07", u".hidden.*-*-*"},
      {u"/x/app.tar.gz", u"/x/app.tar.2019-03-07.gz", u"app.tar.*-*-*.gz"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.dated, DatedName(c.path, test::At(2019, 3, 7, 23, 59, 59, 999)));
    EXPECT_EQ(c.pattern, DatedPattern(FileNamePart(c.path)));
    EXPECT_TRUE(IsDatedName(FileNamePart(c.path), FileNamePart(c.dated))) << ToUtf8(c.dated);
  }
  // Only the exact dated shape counts as a dated file.
  const std::pair<WStringView, bool> kNames[] = {
      {u"common.2019-03-07.log", true},   {u"common.2019-3-07.log", false},
      {u"COMMON.2019-03-07.log", false},  {u"common.2019-03-07.LOG", false},
      {u"xcommon.2019-03-07.log", false}, {u"common.log", false},
  };
  for (const auto& [name, dated] : kNames) EXPECT_EQ(dated, IsDatedName(u"common.log", name)) << ToUtf8(name);
  // Temporary names are version 4 identifiers.
  std::uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(0xF0 + i);
  EXPECT_EQ(u"zun-f0f1f2f3-f4f5-46f7-b8f9-fafbfcfdfeff.tmp", TemporaryName(bytes));
}

}  // namespace
}  // namespace zun
