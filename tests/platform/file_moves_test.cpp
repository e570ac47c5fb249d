#include "platform/file_moves.h"

#include <cerrno>
#include <filesystem>

#include "platform/file_system.h"
#include "support/test_support.h"

namespace zun {
namespace {

using test::ReadFileBytes;

class FileMovesTest : public test::TempDirTest {};

template <int error>
int Refuse(const char*, const char*) {
  errno = error;
  return -1;
}

// The rename without replacing, then the fallbacks of file systems that
// refuse it (a hard link) or of a move to another file system (a copy):
// each keeps content and creation time and never replaces a file.
TEST_F(FileMovesTest, MovesNeverReplaceAndKeepContentAndCreationTime) {
  for (const auto call : {RealFileCalls().renameNoReplace, Refuse<EINVAL>, Refuse<EXDEV>}) {
    constexpr FileTime kCreated = 132000000000000000ull;
    test::FileCallsOverride calls;
    calls.calls.renameNoReplace = call;
    calls.Install();
    ASSERT_RC(RC_OK, CreateFileWithContent(WidePath("a.log"), "first", kCreated));
    ASSERT_RC(RC_ALREADY_EXISTS, CreateFileWithContent(WidePath("a.log"), "other", 1));
    test::WriteFileBytes(PathOf("taken.log"), "taken");

    ASSERT_RC(RC_OK, MoveFileNoReplace(WidePath("a.log"), WidePath("b.log")));
    EXPECT_FALSE(std::filesystem::exists(PathOf("a.log")));
    EXPECT_EQ("first", ReadFileBytes(PathOf("b.log")));
    FileFacts facts;
    ASSERT_RC(RC_OK, ReadFileFacts(WidePath("b.log"), false, &facts));
    EXPECT_EQ(kCreated, facts.creationTime);

    EXPECT_RC(RC_ALREADY_EXISTS, MoveFileNoReplace(WidePath("b.log"), WidePath("taken.log")));
    EXPECT_EQ("first", ReadFileBytes(PathOf("b.log")));
    EXPECT_EQ("taken", ReadFileBytes(PathOf("taken.log")));
    EXPECT_RC(RC_FILE_NOT_FOUND, MoveFileNoReplace(WidePath("a.log"), WidePath("c.log")));

    EXPECT_RC(RC_OK, DeleteFile(WidePath("b.log")));
    std::filesystem::remove(PathOf("taken.log"));
  }
}

}  // namespace
}  // namespace zun
