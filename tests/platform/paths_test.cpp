#include "platform/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>

#include "support/test_support.h"

namespace zun {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::WriteFileBytes;

TEST(PathRules, RootsAndAbsolutePaths) {
  for (const char16_t* path : {u"D:", u"D:/x", u"\\/x"}) {
    EXPECT_TRUE(IsAbsolutePath(path)) << ToUtf8(path);
  }
  for (const char16_t* path : {u"D:x", u"/var/log", u"", u"x\\\\y"}) {
    EXPECT_FALSE(IsAbsolutePath(path)) << ToUtf8(path);
  }
  const std::pair<const char16_t*, std::size_t> roots[] = {{u"\\\\srv\\share\\dir\\f", 11},
                                                           {u"\\\\srv", 5},
                                                           {u"D:\\f", 3},
                                                           {u"D:f", 2},
                                                           {u"/var/log", 1},
                                                           {u"f", 0}};
  for (auto [path, root] : roots) EXPECT_EQ(PathRootLength(path), root) << ToUtf8(path);
}

TEST(PathRules, ParentsAndCombinedPaths) {
  // Path, parent part.
  const WStringView parents[][2] = {
      {u"D:\\a.log", u"D:\\"}, {u"a.log", u""}, {u"a/\\/b", u"a"}, {u"logs/", u"logs"}, {u"/a", u"/"}};
  for (const auto& c : parents) {
    EXPECT_EQ(ParentPart(c[0]), c[1]) << ToUtf8(c[0]);
    EXPECT_EQ(ParentPart(c[0]).data(), c[0].data()) << "not a view into the text: " << ToUtf8(c[0]);
  }
  // Folder, name, combined path.
  const WStringView joins[][3] = {
      {u"D:\\logs", u"a.log", u"D:\\logs\\a.log"},   {u"D:\\logs\\", u"a.log", u"D:\\logs\\a.log"},
      {u"D:\\logs", u"\\x\\a.log", u"D:\\x\\a.log"}, {u"D:\\logs", u"E:\\a.log", u"E:\\a.log"},
      {u"/var/log", u"a.log", u"/var/log/a.log"},    {u"/var/log", u"/etc/a.log", u"/etc/a.log"},
      {u"/var\\log", u"a.log", u"/var\\log\\a.log"}, {u"D:\\logs", u"", u"D:\\logs"}};
  for (const auto& c : joins) {
    WString out = u"stale";
    ASSERT_RC(RC_OK, CombinePath(c[0], c[1], &out));
    EXPECT_EQ(out, c[2]) << ToUtf8(c[0]) << " + " << ToUtf8(c[1]);
  }
  WString same = u"/srv/logs";
  ASSERT_RC(RC_OK, CombinePath(same, u"x.log", &same));
  EXPECT_EQ(same, u"/srv/logs/x.log");
}

class DirectoryTreeTest : public test::TempDirTest {};

TEST_F(DirectoryTreeTest, CreatesMissingParentsAndTakesAFolderThatExistsAsMade) {
  fs::create_directory(PathOf("a"));
  const WString target = WidePath("a") + u"\\b\\c";
  ASSERT_RC(RC_OK, CreateDirectoryTree(target));
  EXPECT_TRUE(fs::is_empty(PathOf("a/b/c")));
  WriteFileBytes(PathOf("a/b/c/keep.log"), "kept");
  EXPECT_RC(RC_OK, CreateDirectoryTree(target));
  EXPECT_RC(RC_OK, CreateDirectoryTree(target + u"/"));
  EXPECT_EQ(ReadFileBytes(PathOf("a/b/c/keep.log")), "kept");
  EXPECT_RC(RC_ALREADY_EXISTS, CreateDirectoryTree(target + u"/keep.log"));

  const fs::path previous = fs::current_path();
  fs::current_path(Dir());
  const ResultCode relative = CreateDirectoryTree(u"rel\\one\\two");
  fs::current_path(previous);
  ASSERT_RC(RC_OK, relative);
  EXPECT_TRUE(fs::is_empty(PathOf("rel/one/two")));
}

// Another process: it may make a folder (with a log inside) a moment before
// us, and "target" may be refused to us.
std::string gOtherMakes;
bool gTargetRefused = false;

int InterferingMakeDirectory(const char* path, mode_t mode) {
  if (gOtherMakes == path) {
    mkdir(path, 0777);
    WriteFileBytes(fs::path(path) / "other.log", "theirs");
  }
  if (gTargetRefused && fs::path(path).filename() == "target") {
    errno = EACCES;
    return -1;
  }
  return mkdir(path, mode);
}

// A failure leaves nothing made, the folders another made and a file where
// a folder should be untouched.
TEST_F(DirectoryTreeTest, FailureRemovesOnlyTheEmptyFoldersThisCallMade) {
  WriteFileBytes(PathOf("plain"), "file");
  test::FileCallsOverride faults;
  faults.calls.mkdir = InterferingMakeDirectory;
  faults.Install();
  struct Case {
    std::string target;
    const char* otherMakes;
    bool refused;
    ResultCode expected;
    const char* gone;  // removed again, or never made
  };
  const Case kCases[] = {
      {"r/s/" + std::string(300, 'n'), "", false, RC_INVALID_NAME, "r"},
      {"plain/sub/t", "", false, RC_ALREADY_EXISTS, "plain/sub"},
      {"k/l/target", "k", true, RC_ACCESS_DENIED, "k/l"},
      {"j/l/target", "j/l", true, RC_ACCESS_DENIED, "j/l/target"},
      {"p/q/target", "p/q/target", false, RC_OK, "p/q/target/x"},
      {"i/done", "i", false, RC_OK, "i/done/x"},
  };
  for (const Case& c : kCases) {
    gOtherMakes = c.otherMakes[0] == 0 ? "" : PathOf(c.otherMakes).string();
    gTargetRefused = c.refused;
    EXPECT_RC(c.expected, CreateDirectoryTree(WidePath(c.target))) << c.target;
    EXPECT_FALSE(fs::exists(PathOf(c.gone))) << c.target;
    if (!gOtherMakes.empty()) {
      EXPECT_EQ("theirs", ReadFileBytes(PathOf(c.otherMakes) / "other.log")) << c.target;
    }
  }
  EXPECT_EQ(ReadFileBytes(PathOf("plain")), "file");
  EXPECT_TRUE(fs::is_directory(PathOf("i/done")));
}

}  // namespace
}  // namespace zun
