#include "platform/directory_listing.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "platform/file_system.h"
#include "support/test_support.h"

namespace zun {
namespace {

namespace fs = std::filesystem;
using test::WriteFileBytes;

TEST(Wildcard, MatchesWithoutRegardToCase) {
  const struct {
    const char16_t* pattern;
    const char16_t* name;
    bool matches;
  } cases[] = {
      {u"*.LOG", u"a.log", true},
      {u"*.log", u"a.log.1", false},
      {u"common.*-*-*.log", u"common.2024-01-05.log", true},
      {u"common.*-*-*.log", u"Common.2024-01.LOG", false},
      {u"common.*-*-*.log", u"common.log", false},
      {u"common.log.*", u"common.log.3", true},
      {u"?.log", u"a.log", true},
      {u"?.log", u"ab.log", false},
      {u"?.log", u".log", false},
      {u"a*b*c", u"aXbYbZc", true},
      {u"a*b*c", u"aXbYbZ", false},
      {u"**", u"x", true},
      {u"*", u"", true},
      {u"*?", u"", false},
      {u"", u"anything", true},
      {u"abc", u"abcd", false},
      {u"\u00c4RGER*", u"\u00e4rger.txt", true},
      {u"*a*a*a*a*a*b", u"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.matches) << ToUtf8(c.pattern) << " vs " << ToUtf8(c.name);
  }
}

class DirectoryListingTest : public test::TempDirTest {
 protected:
  // Name -> attributes of everything the listing returns.
  std::map<std::string, std::uint32_t> List(const WString& folder, WStringView pattern,
                                            std::uint32_t filter) {
    std::map<std::string, std::uint32_t> seen;
    DirectoryListing listing;
    EXPECT_RC(RC_OK, listing.Open(folder, pattern, filter));
    ResultCode rc;
    for (rc = listing.First(); rc == RC_OK; rc = listing.Next()) {
      seen[ToUtf8(ViewOf(listing.Current().name))] = listing.Current().attributes;
    }
    EXPECT_RC(RC_INFO_NOTHING_TO_DO, rc);
    EXPECT_RC(RC_INFO_NOTHING_TO_DO, listing.Next());
    return seen;
  }

  // a.log file, b.log folder, c.log link to the file, d.log link to the
  // folder, e.txt file.
  void MakeMixedFolder() {
    WriteFileBytes(PathOf("a.log"), "12345");
    fs::create_directory(PathOf("b.log"));
    fs::create_symlink(PathOf("a.log"), PathOf("c.log"));
    fs::create_directory_symlink(PathOf("b.log"), PathOf("d.log"));
    WriteFileBytes(PathOf("e.txt"), "");
  }

  static std::set<std::string> Names(const std::map<std::string, std::uint32_t>& listed) {
    std::set<std::string> names;
    for (const auto& entry : listed) names.insert(entry.first);
    return names;
  }
};

TEST_F(DirectoryListingTest, FilterFlagsChooseTheKindsOfEntry) {
  MakeMixedFolder();
  const WString folder = ToUtf16(Dir().string());
  using Set = std::set<std::string>;
  EXPECT_EQ(Names(List(folder, u"*.log", kListFiles)), Set({"a.log"}));
  EXPECT_EQ(Names(List(folder, u"*.LOG", kListFiles)), Set({"a.log"}));
  EXPECT_EQ(Names(List(folder, u"", kListFiles)), Set({"a.log", "e.txt"}));
  EXPECT_EQ(Names(List(folder, u"", kListFolders)), Set({"b.log"}));
  EXPECT_EQ(Names(List(folder, u"", kListFolders | kListDot)), Set({".", "b.log"}));
  EXPECT_EQ(Names(List(folder, u"", kListFolders | kListDotDot)), Set({"..", "b.log"}));
  EXPECT_EQ(Names(List(folder, u"", kListDot | kListDotDot | kListFiles)), Set({"a.log", "e.txt"}));
  EXPECT_EQ(Names(List(folder, u"*.log", kListFiles | kListLinks)), Set({"a.log", "c.log"}));
  EXPECT_EQ(Names(List(folder, u"*.log", kListFolders | kListLinks)), Set({"b.log", "d.log"}));

  const auto all = List(folder, u"*", 31);
  EXPECT_EQ(Names(all), Set({".", "..", "a.log", "b.log", "c.log", "d.log", "e.txt"}));
  EXPECT_EQ(all.at("a.log"), kAttributeNormal);
  EXPECT_EQ(all.at("b.log"), kAttributeDirectory);
  EXPECT_EQ(all.at("c.log"), kAttributeReparsePoint);
  EXPECT_EQ(all.at("d.log"), kAttributeDirectory | kAttributeReparsePoint);
}

TEST_F(DirectoryListingTest, NoMatchReportsNothingToDo) {
  MakeMixedFolder();
  DirectoryListing listing;
  ASSERT_RC(RC_OK, listing.Open(ToUtf16(Dir().string()), u"*.gz", 31));
  EXPECT_RC(RC_INFO_NOTHING_TO_DO, listing.First());
  EXPECT_RC(RC_INFO_NOTHING_TO_DO, listing.Next());
  EXPECT_RC(RC_INFO_NOTHING_TO_DO, listing.First());

  fs::create_directory(PathOf("empty"));
  EXPECT_TRUE(List(WidePath("empty"), u"", kListFiles | kListFolders).empty());
}

TEST_F(DirectoryListingTest, FailedOpenLeavesTheListingClosed) {
  DirectoryListing listing;
  ASSERT_RC(RC_OK, listing.Open(ToUtf16(Dir().string()), u"", kListFiles));
  EXPECT_RC(RC_FILE_NOT_FOUND, listing.Open(WidePath("missing"), u"", kListFiles));
  EXPECT_FALSE(listing.IsOpen());
  EXPECT_RC(RC_INVALID_HANDLE, listing.First());
  EXPECT_RC(RC_INVALID_HANDLE, listing.Next());

  WriteFileBytes(PathOf("file"), "x");
  EXPECT_RC(RC_PATH_NOT_FOUND, listing.Open(WidePath("file"), u"", kListFiles));
  EXPECT_FALSE(listing.IsOpen());
}

TEST_F(DirectoryListingTest, FirstRestartsAndNextWithoutFirstStarts) {
  fs::create_directory(PathOf("logs"));
  for (int i = 0; i < 5; ++i) WriteFileBytes(PathOf("logs/f" + std::to_string(i) + ".log"), "x");
  DirectoryListing listing;
  // Backslashes separate folders here too.
  ASSERT_RC(RC_OK, listing.Open(ToUtf16(Dir().string()) + u"\\logs", u"F?.LOG", kListFiles));
  ASSERT_RC(RC_OK, listing.Next());
  const WString first(ViewOf(listing.Current().name));
  ASSERT_RC(RC_OK, listing.Next());
  ASSERT_RC(RC_OK, listing.First());
  EXPECT_EQ(WString(ViewOf(listing.Current().name)), first);
  int count = 1;
  while (listing.Next() == RC_OK) ++count;
  EXPECT_EQ(count, 5);
}

TEST_F(DirectoryListingTest, EntriesCarrySizesTimesAndFullNames) {
  const std::string longName(255, 'L');
  WriteFileBytes(PathOf(longName), std::string(5000, 'x'));
  WriteFileBytes(PathOf("dated.log"), "abc");
  // 2021-03-04 05:06:07.1234567 UTC
  const timespec times[2] = {{1614834367, 123456700}, {1614834367, 123456700}};
  ASSERT_EQ(utimensat(AT_FDCWD, PathOf("dated.log").c_str(), times, 0), 0);
  const FileTime expected = kFileTimeUnixEpoch + 1614834367ull * 10000000ull + 1234567ull;
  const FileTime before = SystemTimeNow();

  std::map<std::string, DirectoryEntry> entries;
  DirectoryListing listing;
  ASSERT_RC(RC_OK, listing.Open(ToUtf16(Dir().string()), u"", kListFiles));
  for (ResultCode rc = listing.First(); rc == RC_OK; rc = listing.Next()) {
    entries[ToUtf8(ViewOf(listing.Current().name))] = listing.Current();
  }
  ASSERT_EQ(entries.size(), 2u);
  ASSERT_EQ(entries.count(longName), 1u);
  EXPECT_EQ(entries[longName].endOfFile, 5000u);
  EXPECT_GE(entries[longName].allocationSize, 4096u);
  const DirectoryEntry& dated = entries["dated.log"];
  EXPECT_EQ(dated.endOfFile, 3u);
  EXPECT_EQ(dated.lastWriteTime, expected);
  EXPECT_EQ(dated.lastAccessTime, expected);
  EXPECT_GE(dated.changeTime + 10000000ull, before);
  // Birth time (or the change time): this test made the file moments ago.
  EXPECT_GE(dated.creationTime + 10000000ull, before);
  EXPECT_EQ(dated.shortName[0], 0);
}

TEST_F(DirectoryListingTest, RecordedCreationTimeWinsAndTravelsWithRenames) {
  WriteFileBytes(PathOf("common.log"), "line\r\n");
  const FileTime recorded = 133000000000000000ull + 42;
  const ResultCode written = WriteCreationTime(WidePath("common.log"), recorded);
  if (written == RC_NOT_SUPPORTED) GTEST_SKIP() << "no user attributes on this file system";
  ASSERT_RC(RC_OK, written);
  fs::rename(PathOf("common.log"), PathOf("common.2021-01-01.log"));

  DirectoryListing listing;
  ASSERT_RC(RC_OK, listing.Open(ToUtf16(Dir().string()), u"common.*-*-*.log", kListFiles));
  ASSERT_RC(RC_OK, listing.First());
  EXPECT_EQ(listing.Current().creationTime, recorded);
  EXPECT_RC(RC_INFO_NOTHING_TO_DO, listing.Next());

  FileFacts facts;
  ASSERT_RC(RC_OK, ReadFileFacts(WidePath("common.2021-01-01.log"), true, &facts));
  EXPECT_EQ(facts.creationTime, recorded);
  EXPECT_EQ(facts.size, 6u);
  fs::create_symlink(PathOf("common.2021-01-01.log"), PathOf("link"));
  ASSERT_RC(RC_OK, ReadFileFacts(WidePath("link"), true, &facts));
  EXPECT_EQ(facts.creationTime, recorded);
  ASSERT_RC(RC_OK, ReadFileFacts(WidePath("link"), false, &facts));
  EXPECT_NE(facts.creationTime, recorded);
  EXPECT_TRUE(S_ISLNK(facts.mode));
  EXPECT_RC(RC_FILE_NOT_FOUND, ReadFileFacts(WidePath("gone"), true, &facts));
}

}  // namespace
}  // namespace zun
