#include "platform/directory_listing.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <tuple>

#include "support/test_support.h"

namespace zun {
namespace {

namespace fs = std::filesystem;
using test::WriteFileBytes;

TEST(Wildcard, MatchesWithoutRegardToCase) {
  // Pattern, name, whether it matches.
  const std::tuple<const char16_t*, const char16_t*, bool> cases[] = {
      {u"common.*-*-*.log", u"Common.2024-01-05.LOG", true},
      {u"common.*-*-*.log", u"common.2024-01.log", false},
      {u"?.log", u"a.log", true},
      {u"?.log", u".log", false},
      {u"*?", u"", false},
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

// An entry's name holds the longest name a folder allows.
TEST_F(DirectoryListingTest, FilterFlagsChooseTheKindsOfEntryThatCarryNamesSizesAndTimes) {
  const std::string longName(255, 'L');
  WriteFileBytes(PathOf(longName), "");
  WriteFileBytes(PathOf("a.log"), "12345");
  // 2021-03-04 05:06:07.1234567 UTC
  const timespec times[2] = {{1614834367, 123456700}, {1614834367, 123456700}};
  ASSERT_EQ(utimensat(AT_FDCWD, PathOf("a.log").c_str(), times, 0), 0);
  fs::create_directory(PathOf("b.log"));
  fs::create_symlink(PathOf("a.log"), PathOf("c.log"));
  fs::create_directory_symlink(PathOf("b.log"), PathOf("d.log"));
  std::map<std::string, DirectoryEntry> entries;
  EXPECT_EQ(List(u"", kListFiles, &entries), longName + " a.log");
  EXPECT_EQ(entries["a.log"].endOfFile, 5u);
  EXPECT_EQ(entries["a.log"].lastWriteTime, kFileTimeUnixEpoch + 1614834367ull * 10000000ull + 1234567ull);
  EXPECT_EQ(List(u"*.LOG", kListFiles), "a.log");
  EXPECT_EQ(List(u"*.log", kListFiles | kListLinks), "a.log c.log");
}

TEST_F(DirectoryListingTest, OpenFailsForAMissingFolderOrAFile) {
  DirectoryListing listing;
  EXPECT_RC(RC_FILE_NOT_FOUND, listing.Open(WidePath("missing"), u"", kListFiles));
  WriteFileBytes(PathOf("file"), "x");
  EXPECT_RC(RC_PATH_NOT_FOUND, listing.Open(WidePath("file"), u"", kListFiles));
}

}  // namespace
}  // namespace zun
