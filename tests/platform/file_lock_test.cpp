#include "platform/file_lock.h"

#include <atomic>

#include "support/test_support.h"

namespace zun {
namespace {

class FileLockTest : public test::TempDirTest {};

TEST_F(FileLockTest, TwoOpeningsShareTheBlockAndExcludeEachOtherWithoutWaiting) {
  test::WriteFileBytes(PathOf("long.lock"), std::string(2 * FileLock::kSharedBytes, 'x'));
  FileLock first, second, other;
  ASSERT_RC(RC_OK, first.Open(WidePath("a.lock")));
  ASSERT_RC(RC_OK, second.Open(WidePath("a.lock")));
  ASSERT_RC(RC_OK, other.Open(WidePath("long.lock")));
  EXPECT_EQ(FileLock::kSharedBytes, std::filesystem::file_size(PathOf("a.lock")));
  EXPECT_EQ(2 * FileLock::kSharedBytes, std::filesystem::file_size(PathOf("long.lock"))) << "never shrunk";

  ASSERT_NE(nullptr, first.Shared());
  ASSERT_NE(nullptr, second.Shared());
  std::atomic_ref<std::uint64_t>(static_cast<std::uint64_t*>(first.Shared())[1]).fetch_add(42);
  EXPECT_EQ(42u, std::atomic_ref<std::uint64_t>(static_cast<std::uint64_t*>(second.Shared())[1]).load());

  ASSERT_RC(RC_OK, first.TryLock());
  EXPECT_RC(RC_WARN_TIMEOUT, second.TryLock());
  EXPECT_RC(RC_OK, other.TryLock()) << "another file's lock is free";
  ASSERT_RC(RC_OK, first.Unlock());
  ASSERT_RC(RC_OK, second.TryLock());
  EXPECT_RC(RC_WARN_TIMEOUT, first.TryLock());
  second.Close();
  EXPECT_RC(RC_OK, first.TryLock());
}

}  // namespace
}  // namespace zun
