#include "appenders/rolled_file_compressor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <barrier>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "appenders/standalone_owner.h"
#include "platform/file_compression.h"
#include "support/test_support.h"

namespace zun {
namespace {

// Stands for a file system that compresses: remembers which files were asked
// for, in order, and reports them compressed afterwards. With the gate closed,
// Compress waits until it is opened.
class RecordingCompression final : public FileCompressionOps {
 public:
  ResultCode IsCompressed(WStringView path, bool* compressed) noexcept override {
    std::lock_guard<std::mutex> lock(mutex_);
    *compressed = compressed_.count(WString(path)) != 0;
    return 0;
  }
  ResultCode Compress(WStringView path) noexcept override {
    std::unique_lock<std::mutex> lock(mutex_);
    asked_.emplace_back(path);
    changed_.notify_all();
    changed_.wait(lock, [this] { return gateOpen_; });
    compressed_.emplace(path);
    return 0;
  }
  void MarkCompressed(const WString& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    compressed_.insert(path);
  }
  std::vector<WString> Asked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_;
  }
  void SetGate(bool open) {
    std::lock_guard<std::mutex> lock(mutex_);
    gateOpen_ = open;
    changed_.notify_all();
  }
  void WaitUntilAsked(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return asked_.size() >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<WString> asked_;
  std::set<WString> compressed_;
  bool gateOpen_ = true;
};

class RolledFileCompressorTest : public test::TempDirTest {
 protected:
  void Touch(const std::string& name) { test::WriteFileBytes(PathOf(name), "line\r\n"); }
  std::set<WString> AskedSet() {
    const std::vector<WString> asked = ops_.Asked();
    return std::set<WString>(asked.begin(), asked.end());
  }
  RecordingCompression ops_;
};

TEST_F(RolledFileCompressorTest, RollRequestsTheDatedFilesThenTheBackupsOfTheFamilyOnly) {
  for (const char* name :
       {"common.log", "common.log.1", "common.log.2", "common.2019-03-07.log", "common.2019-03-08.log",
        "common.log.lock", "other.log.1", "commonx.log.1", "other.2019-03-07.log", "common.txt"}) {
    Touch(name);
  }
  std::filesystem::create_directory(PathOf("common.log.d"));
  RolledFileCompressor compressor(ops_);
  ASSERT_RC(RC_OK, compressor.ReportRolledFile(WidePath("common.log.1")));
  EXPECT_RC(RC_OK, compressor.CollectCompletions(RolledFileCompressor::kWaitWithoutLimit));
  EXPECT_EQ(0u, compressor.PendingCount());

  const std::vector<WString> asked = ops_.Asked();
  ASSERT_EQ(4u, asked.size());
  EXPECT_EQ((std::set<WString>{WidePath("common.2019-03-07.log"), WidePath("common.2019-03-08.log")}),
            std::set<WString>(asked.begin(), asked.begin() + 2));
  EXPECT_EQ((std::set<WString>{WidePath("common.log.1"), WidePath("common.log.2")}),
            std::set<WString>(asked.begin() + 2, asked.end()));

  // A later roll, reported by its dated name, finds everything compressed
  // except the new backup.
  Touch("common.log.3");
  ASSERT_RC(RC_OK, compressor.ReportRolledFile(WidePath("common.2019-03-09.log")));
  EXPECT_RC(RC_OK, compressor.CollectCompletions(RolledFileCompressor::kWaitWithoutLimit));
  ASSERT_EQ(5u, ops_.Asked().size());
  EXPECT_EQ(WidePath("common.log.3"), ops_.Asked().back());
}

TEST_F(RolledFileCompressorTest, CompressedAndWaitingFilesAreNotAskedAgain) {
  Touch("app.log.1");
  Touch("app.log.2");
  Touch("app.log.3");
  ops_.MarkCompressed(WidePath("app.log.3"));
  ops_.SetGate(false);
  RolledFileCompressor compressor(ops_);
  ASSERT_RC(RC_OK, compressor.ReportRolledFile(WidePath("app.log.1")));
  ops_.WaitUntilAsked(1);
  EXPECT_EQ(2u, compressor.PendingCount());

  // Nothing has finished: polling and a short wait keep both requests, and
  // a second roll meanwhile adds none.
  EXPECT_RC(RC_OK, compressor.CollectCompletions(0));
  EXPECT_RC(RC_OK, compressor.CollectCompletions(5));
  ASSERT_RC(RC_OK, compressor.ReportRolledFile(WidePath("app.log.1")));
  EXPECT_EQ(2u, compressor.PendingCount());

  ops_.SetGate(true);
  EXPECT_RC(RC_OK, compressor.CollectCompletions(RolledFileCompressor::kWaitWithoutLimit));
  EXPECT_EQ(0u, compressor.PendingCount());
  EXPECT_EQ(2u, ops_.Asked().size());
  EXPECT_EQ((std::set<WString>{WidePath("app.log.1"), WidePath("app.log.2")}), AskedSet());

  // After the worker ended, a new roll starts it again.
  Touch("app.log.4");
  ASSERT_RC(RC_OK, compressor.ReportRolledFile(WidePath("app.log.1")));
  EXPECT_RC(RC_OK, compressor.CollectCompletions(RolledFileCompressor::kWaitWithoutLimit));
  EXPECT_EQ(WidePath("app.log.4"), ops_.Asked().back());
  EXPECT_EQ(3u, ops_.Asked().size());
}

TEST_F(RolledFileCompressorTest, DestroyingTheCompressorFinishesStartedRequests) {
  Touch("svc.log.1");
  Touch("svc.log.2");
  {
    RolledFileCompressor compressor(ops_);
    ASSERT_RC(RC_OK, compressor.ReportRolledFile(WidePath("svc.log.1")));
  }
  EXPECT_EQ((std::set<WString>{WidePath("svc.log.1"), WidePath("svc.log.2")}), AskedSet());
}

TEST_F(RolledFileCompressorTest, BadFolderOrPathFailsWithoutRequests) {
  RolledFileCompressor compressor(ops_);
  EXPECT_TRUE(Failed(compressor.ReportRolledFile(WidePath("missing/common.log.1"))));
  EXPECT_RC(RC_INVALID_PARAMETER, compressor.ReportRolledFile(WidePath("common.log.1") + u"/"));
  EXPECT_TRUE(ops_.Asked().empty());
  EXPECT_EQ(0u, compressor.PendingCount());
}

TEST_F(RolledFileCompressorTest, ConcurrentRollsAndCollectionsAskForEachFileOnce) {
  constexpr int kFamilies = 6, kBackups = 5;
  for (int f = 0; f < kFamilies; ++f) {
    for (int b = 1; b <= kBackups; ++b) Touch("f" + std::to_string(f) + ".log." + std::to_string(b));
  }
  RolledFileCompressor compressor(ops_);
  std::barrier start(kFamilies + 1);
  std::vector<std::thread> threads;
  for (int f = 0; f < kFamilies; ++f) {
    threads.emplace_back([&, f] {
      start.arrive_and_wait();
      for (int round = 0; round < 3; ++round) {
        EXPECT_RC(RC_OK, compressor.ReportRolledFile(WidePath("f" + std::to_string(f) + ".log.1")));
      }
    });
  }
  start.arrive_and_wait();
  for (int i = 0; i < 50; ++i) EXPECT_RC(RC_OK, compressor.CollectCompletions(0));
  for (std::thread& thread : threads) thread.join();
  EXPECT_RC(RC_OK, compressor.CollectCompletions(RolledFileCompressor::kWaitWithoutLimit));

  EXPECT_EQ(0u, compressor.PendingCount());
  EXPECT_EQ(std::size_t{kFamilies} * kBackups, ops_.Asked().size());
  EXPECT_EQ(std::size_t{kFamilies} * kBackups, AskedSet().size());
}

// /tmp is rarely btrfs: there the real calls must fail quietly and leave
// every file exactly as it was.
TEST_F(RolledFileCompressorTest, SystemCompressionElsewhereThanBtrfsChangesNothing) {
  const std::string content(70000, 'x');
  test::WriteFileBytes(PathOf("common.log.1"), content);
  struct statfs fileSystem {};
  ASSERT_EQ(0, statfs(Dir().c_str(), &fileSystem));
  if (fileSystem.f_type == BTRFS_SUPER_MAGIC) GTEST_SKIP() << "the test folder is on btrfs";
  struct stat before {};
  ASSERT_EQ(0, stat(PathOf("common.log.1").c_str(), &before));
  bool compressed = true;

  {
    StandaloneAppenderOwner owner;
    ASSERT_RC(RC_OK, owner.ReportRolledFile(WidePath("common.log.1")));
    EXPECT_RC(RC_OK, owner.Compressor().CollectCompletions(RolledFileCompressor::kWaitWithoutLimit));
    EXPECT_EQ(0u, owner.Compressor().PendingCount());
  }
  ASSERT_RC(RC_OK, IsFileCompressed(WidePath("common.log.1"), &compressed));
  EXPECT_FALSE(compressed);
  EXPECT_EQ(content, test::ReadFileBytes(PathOf("common.log.1")));
  struct stat after {};
  ASSERT_EQ(0, stat(PathOf("common.log.1").c_str(), &after));
  EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  EXPECT_EQ(before.st_ctim.tv_nsec, after.st_ctim.tv_nsec);

  EXPECT_RC(RC_NOT_SUPPORTED, CompressFile(WidePath("common.log.1")));
  EXPECT_RC(RC_FILE_NOT_FOUND, CompressFile(WidePath("absent.log.1")));
  EXPECT_RC(RC_NOT_SUPPORTED, IsFileCompressed(ToUtf16(Dir().string()), &compressed));
}

// Whether btrfs actually stored the content compressed.
bool ExtentsAreEncoded(const std::filesystem::path& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  constexpr unsigned kMaxExtents = 64;
  alignas(fiemap) unsigned char buffer[sizeof(fiemap) + kMaxExtents * sizeof(fiemap_extent)] = {};
  fiemap* map = reinterpret_cast<fiemap*>(buffer);
  map->fm_length = FIEMAP_MAX_OFFSET;
  map->fm_flags = FIEMAP_FLAG_SYNC;
  map->fm_extent_count = kMaxExtents;
  const bool ok = ioctl(fd, FS_IOC_FIEMAP, map) == 0 && map->fm_mapped_extents > 0;
  close(fd);
  if (!ok) return false;
  for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
    if ((map->fm_extents[i].fe_flags & FIEMAP_EXTENT_ENCODED) == 0) return false;
  }
  return true;
}

// Runs when ZUNLOGX_BTRFS_DIR names a writable folder on btrfs.
TEST(RolledFileCompressorBtrfsTest, RolledBackupsOnBtrfsAreStoredCompressed) {
  const char* base = std::getenv("ZUNLOGX_BTRFS_DIR");
  if (base == nullptr || *base == 0) GTEST_SKIP() << "ZUNLOGX_BTRFS_DIR names no btrfs folder";
  std::string pattern = std::string(base) + "/zunlogx-compress-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern.data()));
  const std::filesystem::path dir = pattern;
  std::string content;
  while (content.size() < 300000) content += "2024-05-01 10:00:00.000 INFO  worker started a task\r\n";
  for (const char* name : {"common.log", "common.log.1", "common.log.2", "common.log.lock"}) {
    // On disk before the roll, as rolled logs are: the flag alone would not
    // compress what is written already.
    test::WriteFileBytes(dir / name, content);
    const int fd = open((dir / name).c_str(), O_RDONLY);
    ASSERT_EQ(0, fsync(fd));
    close(fd);
    ASSERT_FALSE(ExtentsAreEncoded(dir / name));
  }
  const auto wide = [&](const char* name) { return ToUtf16((dir / name).string()); };

  {
    StandaloneAppenderOwner owner;
    ASSERT_RC(RC_OK, owner.ReportRolledFile(wide("common.log.1")));
    EXPECT_RC(RC_OK, owner.Compressor().CollectCompletions(RolledFileCompressor::kWaitWithoutLimit));
  }
  const std::pair<const char*, bool> expected[] = {
      {"common.log.1", true}, {"common.log.2", true}, {"common.log", false}, {"common.log.lock", false}};
  for (const auto& [name, rolled] : expected) {
    bool compressed = !rolled;
    EXPECT_RC(RC_OK, IsFileCompressed(wide(name), &compressed));
    EXPECT_EQ(rolled, compressed) << name;
    EXPECT_EQ(rolled, ExtentsAreEncoded(dir / name)) << name;
    EXPECT_EQ(content, test::ReadFileBytes(dir / name)) << name;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zun
