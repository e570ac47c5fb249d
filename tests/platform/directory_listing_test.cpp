#include "platform/directory_listing.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <tuple>

#include "platform/file_system.h"
#include "support/test_support.h"

namespace zun {
namespace {

namespace fs = std::filesystem;
using test::WriteFileBytes;

TEST(Wildcard, MatchesWithoutRegardToCase) {
  // Pattern, name, whether it matches.
  const std::tuple<const char16_t*, const char16_t*, bool> cases[] = {
      {u"*.LOG", u"a.log", true},
      {u"*.log", u"a.log.1", false},
      {u"common.*-*-*.log", u"Common.2024-01-05.LOG", true},
      {u"common.*-*-*.log", u"common.2024-01.log", false},
      {u"?.log", u"a.log", true},
      {u"?.log", u".log", false},
      {u"*", u"", true},
      {u"*?", u"", false},
      {u"", u"anything", true},
      {u"\u00c4RGER*", u"\u00e4rger.txt", true},
      {u"*a*a*a*a*a*b", u"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false}};
  for (const auto& [pattern, name, matches] : cases) {
    EXPECT_EQ(MatchesWildcard(pattern, name), matches) << ToUtf8(pattern) << " vs " << ToUtf8(name);
  }
}

class DirectoryListingTest : public test::TempDirTest {
 protected:
  // Names (space separated, sorted) of what the listing returns; the entries
  // go to *entries when given.
  std::string List(WStringView pattern, std::uint32_t filter,
                   std::map<std::string, DirectoryEntry>* entries = nullptr) {
    std::map<std::string, DirectoryEntry> seen;
    DirectoryListing listing;
    EXPECT_RC(RC_OK, listing.Open(ToUtf16(Dir().string()), pattern, filter));
    ResultCode rc;
    for (rc = listing.First(); rc == RC_OK; rc = listing.Next()) {
      seen[ToUtf8(ViewOf(listing.Current().name))] = listing.Current();
    }
    EXPECT_RC(RC_INFO_NOTHING_TO_DO, rc);
    std::string names;
    for (const auto& entry : seen) names += (names.empty() ? "" : " ") + entry.first;
    if (entries) *entries = seen;
    return names;
  }
};

TEST_F(DirectoryListingTest, FilterFlagsChooseTheKindsOfEntry) {
  WriteFileBytes(PathOf("a.log"), "12345");
  fs::create_directory(PathOf("b.log"));
  fs::create_symlink(PathOf("a.log"), PathOf("c.log"));
  fs::create_directory_symlink(PathOf("b.log"), PathOf("d.log"));
  WriteFileBytes(PathOf("e.txt"), "");
  EXPECT_EQ(List(u"*.LOG", kListFiles), "a.log");
  EXPECT_EQ(List(u"", kListFiles), "a.log e.txt");
  EXPECT_EQ(List(u"", kListFolders | kListDot), ". b.log");
  EXPECT_EQ(List(u"", kListFolders | kListDotDot), ".. b.log");
  EXPECT_EQ(List(u"", kListDot | kListDotDot | kListFiles), "a.log e.txt");
  EXPECT_EQ(List(u"*.log", kListFiles | kListLinks), "a.log c.log");
  EXPECT_EQ(List(u"*.log", kListFolders | kListLinks), "b.log d.log");
  EXPECT_EQ(List(u"*.gz", 31), "");

  std::map<std::string, DirectoryEntry> all;
  EXPECT_EQ(List(u"*", 31, &all), ". .. a.log b.log c.log d.log e.txt");
  EXPECT_EQ(all["a.log"].attributes, kAttributeNormal);
  EXPECT_EQ(all["b.log"].attributes, kAttributeDirectory);
  EXPECT_EQ(all["c.log"].attributes, kAttributeReparsePoint);
  EXPECT_EQ(all["d.log"].attributes, kAttributeDirectory | kAttributeReparsePoint);
}

TEST_F(DirectoryListingTest, OpenFailuresAndRestarts) {
  DirectoryListing listing;
  EXPECT_RC(RC_FILE_NOT_FOUND, listing.Open(WidePath("missing"), u"", kListFiles));
  EXPECT_RC(RC_INVALID_HANDLE, listing.First());
  WriteFileBytes(PathOf("file"), "x");
  EXPECT_RC(RC_PATH_NOT_FOUND, listing.Open(WidePath("file"), u"", kListFiles));

  fs::create_directory(PathOf("logs"));
  for (int i = 0; i < 5; ++i) WriteFileBytes(PathOf("logs/f" + std::to_string(i) + ".log"), "x");
  // Backslashes separate folders here too; Next without First starts the listing.
  ASSERT_RC(RC_OK, listing.Open(ToUtf16(Dir().string()) + u"\\logs", u"F?.LOG", kListFiles));
  ASSERT_RC(RC_OK, listing.Next());
  const WString first(ViewOf(listing.Current().name));
  ASSERT_RC(RC_OK, listing.Next());
  ASSERT_RC(RC_OK, listing.First());
  EXPECT_EQ(WString(ViewOf(listing.Current().name)), first);
  int count = 1;
  while (listing.Next() == RC_OK) ++count;
  EXPECT_EQ(count, 5);
  EXPECT_RC(RC_INFO_NOTHING_TO_DO, listing.Next());
}

TEST_F(DirectoryListingTest, EntriesCarrySizesTimesFullNamesAndTheRecordedCreationTime) {
  const std::string longName(255, 'L');
  WriteFileBytes(PathOf(longName), std::string(5000, 'x'));
  WriteFileBytes(PathOf("dated.log"), "abc");
  // 2021-03-04 05:06:07.1234567 UTC
  const timespec times[2] = {{1614834367, 123456700}, {1614834367, 123456700}};
  ASSERT_EQ(utimensat(AT_FDCWD, PathOf("dated.log").c_str(), times, 0), 0);
  const FileTime expected = kFileTimeUnixEpoch + 1614834367ull * 10000000ull + 1234567ull;
  std::map<std::string, DirectoryEntry> entries;
  ASSERT_EQ(List(u"", kListFiles, &entries), longName + " dated.log");
  EXPECT_EQ(entries[longName].endOfFile, 5000u);
  EXPECT_EQ(entries["dated.log"].endOfFile, 3u);
  EXPECT_EQ(entries["dated.log"].lastWriteTime, expected);
  EXPECT_EQ(entries["dated.log"].lastAccessTime, expected);

  // The library's own record of a creation time wins and travels with renames.
  const FileTime recorded = 133000000000000000ull + 42;
  const ResultCode written = WriteCreationTime(WidePath("dated.log"), recorded);
  if (written == RC_NOT_SUPPORTED) GTEST_SKIP() << "no user attributes on this file system";
  ASSERT_RC(RC_OK, written);
  fs::rename(PathOf("dated.log"), PathOf("common.2021-01-01.log"));
  ASSERT_EQ(List(u"common.*-*-*.log", kListFiles, &entries), "common.2021-01-01.log");
  EXPECT_EQ(entries["common.2021-01-01.log"].creationTime, recorded);
  fs::create_symlink(PathOf("common.2021-01-01.log"), PathOf("link"));
  FileFacts facts;
  ASSERT_RC(RC_OK, ReadFileFacts(WidePath("link"), true, &facts));
  EXPECT_EQ(facts.creationTime, recorded);
  EXPECT_RC(RC_FILE_NOT_FOUND, ReadFileFacts(WidePath("gone"), true, &facts));
}

}  // namespace
}  // namespace zun
