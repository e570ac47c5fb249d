#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/file_system.h"
#include "support/test_support.h"

namespace zun {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::WriteFileBytes;

std::string Narrow(WStringView text) { return ToUtf8(text); }

TEST(PathRules, AbsolutePaths) {
  for (const char16_t* path : {u"D:", u"D:\\x", u"D:/x", u"\\\\srv\\share", u"//srv/share", u"\\/x"}) {
    EXPECT_TRUE(IsAbsolutePath(path)) << Narrow(path);
  }
  for (const char16_t* path : {u"D:x", u"\\x", u"/var/log", u"x", u"", u"D", u"x\\\\y"}) {
    EXPECT_FALSE(IsAbsolutePath(path)) << Narrow(path);
  }
}

TEST(PathRules, RootLengths) {
  const struct {
    const char16_t* path;
    std::size_t root;
  } cases[] = {
      {u"\\\\srv\\share\\dir\\f", 11},
      {u"//srv/share/dir", 11},
      {u"\\\\srv\\share", 11},
      {u"\\\\srv\\", 6},
      {u"\\\\srv", 5},
      {u"D:\\f", 3},
      {u"D:/f", 3},
      {u"D:", 2},
      {u"D:f", 2},
      {u"\\f", 1},
      {u"/var/log", 1},
      {u"f", 0},
      {u"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(PathRootLength(c.path), c.root) << Narrow(c.path);
}

TEST(PathRules, ParentParts) {
  const struct {
    const char16_t* path;
    const char16_t* parent;
  } cases[] = {
      {u"D:\\logs\\a.log", u"D:\\logs"},
      {u"D:\\a.log", u"D:\\"},
      {u"D:/a.log", u"D:/"},
      {u"a.log", u""},
      {u"\\a", u"\\"},
      {u"/a", u"/"},
      {u"/var/log/x.log", u"/var/log"},
      {u"a\\\\b", u"a"},
      {u"a/\\/b", u"a"},
      {u"logs/", u"logs"},
      {u"D:\\", u"D:\\"},
      {u"\\\\srv\\share\\f", u"\\\\srv\\share"},
      {u"", u""},
  };
  for (const auto& c : cases) {
    const WStringView path(c.path);
    const WStringView parent = ParentPart(path);
    EXPECT_EQ(WString(parent), WString(c.parent)) << Narrow(path);
    EXPECT_EQ(parent.data(), path.data()) << "not a view into the text: " << Narrow(path);
  }
}

TEST(PathRules, CombinedPaths) {
  const struct {
    const char16_t* folder;
    const char16_t* name;
    const char16_t* joined;
  } cases[] = {
      {u"D:\\logs", u"a.log", u"D:\\logs\\a.log"},
      {u"D:\\logs\\", u"a.log", u"D:\\logs\\a.log"},
      {u"D:\\logs", u"\\x\\a.log", u"D:\\x\\a.log"},
      {u"D:/logs", u"/x/a.log", u"D:/x/a.log"},
      {u"D:", u"\\x", u"D:\\x"},
      {u"D:\\logs", u"E:\\a.log", u"E:\\a.log"},
      {u"D:\\logs", u"\\\\srv\\s\\a.log", u"\\\\srv\\s\\a.log"},
      {u"\\\\srv\\share", u"\\x", u"\\x"},
      {u"/var/log", u"a.log", u"/var/log/a.log"},
      {u"/var/log/", u"a.log", u"/var/log/a.log"},
      {u"/var/log", u"/etc/a.log", u"/etc/a.log"},
      {u"/var\\log", u"a.log", u"/var\\log\\a.log"},
      {u"logs", u"a.log", u"logs\\a.log"},
      {u"logs", u"..\\a.log", u"logs\\..\\a.log"},
      {u"", u"a.log", u"a.log"},
      {u"D:\\logs", u"", u"D:\\logs"},
  };
  for (const auto& c : cases) {
    WString out = u"stale";
    ASSERT_RC(RC_OK, CombinePath(c.folder, c.name, &out));
    EXPECT_EQ(out, WString(c.joined)) << Narrow(c.folder) << " + " << Narrow(c.name);
  }
  WString same = u"/srv/logs";
  ASSERT_RC(RC_OK, CombinePath(same, u"x.log", &same));
  EXPECT_EQ(same, u"/srv/logs/x.log");
  WString name = u"y.log";
  ASSERT_RC(RC_OK, CombinePath(u"/srv", name, &name));
  EXPECT_EQ(name, u"/srv/y.log");
}

class DirectoryTreeTest : public test::TempDirTest {
 protected:
  void TearDown() override {
    SetMakeDirectoryCall(nullptr);
    test::TempDirTest::TearDown();
  }
  bool IsEmptyFolder(const fs::path& path) const { return fs::is_directory(path) && fs::is_empty(path); }
};

mode_t PermissionsOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

TEST_F(DirectoryTreeTest, CreatesMissingParentsOnceThenReportsExisting) {
  fs::create_directory(PathOf("a"));
  const WString target = WidePath("a") + u"\\b\\c";
  ASSERT_RC(RC_OK, CreateDirectoryTree(target));
  EXPECT_TRUE(fs::is_directory(PathOf("a/b")));
  EXPECT_TRUE(IsEmptyFolder(PathOf("a/b/c")));

  WriteFileBytes(PathOf("a/b/c/keep.log"), "kept");
  EXPECT_RC(RC_ALREADY_EXISTS, CreateDirectoryTree(target));
  EXPECT_RC(RC_ALREADY_EXISTS, CreateDirectoryTree(target + u"/"));
  EXPECT_EQ(ReadFileBytes(PathOf("a/b/c/keep.log")), "kept");
  EXPECT_EQ(std::distance(fs::directory_iterator(PathOf("a/b/c")), fs::directory_iterator()), 1);

  ASSERT_RC(RC_OK, CreateDirectoryTree(WidePath("x/y/z/")));
  EXPECT_TRUE(IsEmptyFolder(PathOf("x/y/z")));
}

TEST_F(DirectoryTreeTest, RelativePathsStopAtTheFirstComponent) {
  const fs::path previous = fs::current_path();
  fs::current_path(Dir());
  const ResultCode rc = CreateDirectoryTree(u"rel\\one\\two");
  fs::current_path(previous);
  ASSERT_RC(RC_OK, rc);
  EXPECT_TRUE(IsEmptyFolder(PathOf("rel/one/two")));
}

TEST_F(DirectoryTreeTest, ExplicitModeAppliesToTheTargetOnly) {
  const mode_t previous = umask(022);
  const ResultCode rc = CreateDirectoryTree(WidePath("p/q"), 0777);
  const ResultCode rc2 = CreateDirectoryTree(WidePath("p/r"), 0700);
  umask(previous);
  ASSERT_RC(RC_OK, rc);
  ASSERT_RC(RC_OK, rc2);
  EXPECT_EQ(PermissionsOf(PathOf("p")), 0755u);
  EXPECT_EQ(PermissionsOf(PathOf("p/q")), 0777u);
  EXPECT_EQ(PermissionsOf(PathOf("p/r")), 0700u);
}

TEST_F(DirectoryTreeTest, FailureAtTheTargetRemovesTheParentsItMade) {
  const WString tooLong = WidePath("r/s/") + WString(300, u'n');
  EXPECT_RC(RC_INVALID_NAME, CreateDirectoryTree(tooLong));
  EXPECT_TRUE(IsEmptyFolder(Dir()));

  // A file where a folder should be: nothing is made and the file stays.
  WriteFileBytes(PathOf("plain"), "file");
  EXPECT_RC(RC_ALREADY_EXISTS, CreateDirectoryTree(WidePath("plain/sub/t")));
  EXPECT_EQ(ReadFileBytes(PathOf("plain")), "file");
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir()), fs::directory_iterator()), 1);
  EXPECT_RC(RC_INVALID_PARAMETER, CreateDirectoryTree(u""));
}

std::string gInterfereFolder;

// Plays another process: it writes into the folder our call made and then
// the target cannot be made.
int FailTargetAfterOthersWrite(const char* path, std::uint32_t mode) {
  if (fs::path(path).filename() == "target") {
    WriteFileBytes(fs::path(path).parent_path() / "other.log", "written meanwhile");
    errno = EACCES;
    return -1;
  }
  return mkdir(path, mode);
}

// Plays another process that makes the same parent a moment earlier.
int ParentAppearsFirst(const char* path, std::uint32_t mode) {
  if (gInterfereFolder == path) mkdir(path, 0777);
  if (fs::path(path).filename() == "target") {
    errno = ENOSPC;
    return -1;
  }
  return mkdir(path, mode);
}

TEST_F(DirectoryTreeTest, RollbackRemovesContentsButNotOthersFolders) {
  SetMakeDirectoryCall(FailTargetAfterOthersWrite);
  EXPECT_RC(RC_ACCESS_DENIED, CreateDirectoryTree(WidePath("m/n/target")));
  EXPECT_TRUE(IsEmptyFolder(Dir()));

  gInterfereFolder = PathOf("k").string();
  SetMakeDirectoryCall(ParentAppearsFirst);
  EXPECT_RC(RC_DISK_FULL, CreateDirectoryTree(WidePath("k/l/target")));
  // "k" was made by the other party, so it stays; "k/l" was ours.
  EXPECT_TRUE(IsEmptyFolder(PathOf("k")));

  fs::remove(PathOf("k"));
  SetMakeDirectoryCall(nullptr);
  gInterfereFolder = PathOf("k").string();
  SetMakeDirectoryCall([](const char* path, std::uint32_t mode) {
    if (gInterfereFolder == path) mkdir(path, 0777);
    return mkdir(path, mode);
  });
  ASSERT_RC(RC_OK, CreateDirectoryTree(WidePath("k/l/done")));
  EXPECT_TRUE(IsEmptyFolder(PathOf("k/l/done")));
}

}  // namespace
}  // namespace zun
