#include "appenders/rolled_file_compressor.h"

#include <linux/magic.h>
#include <sys/vfs.h>

#include <memory>
#include <mutex>
#include <set>

#include "appenders/standalone_owner.h"
#include "platform/file_compression.h"
#include "support/test_support.h"

namespace zun {
namespace {

// Stands for a file system that compresses: remembers which files were asked
// for, in order, and reports them compressed afterwards.
class RecordingCompression final : public FileCompressionOps {
 public:
  ResultCode IsCompressed(WStringView path, bool* compressed) noexcept override {
    std::lock_guard<std::mutex> lock(mutex_);
    *compressed = compressed_.count(WString(path)) != 0;
    return RC_OK;
  }
  ResultCode Compress(WStringView path) noexcept override {
    std::lock_guard<std::mutex> lock(mutex_);
    asked_.emplace_back(path);
    compressed_.emplace(path);
    return RC_OK;
  }
  std::vector<WString> Asked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_;
  }
  std::set<WString> compressed_;  // set before the compressor starts

 private:
  std::mutex mutex_;
  std::vector<WString> asked_;
};

class RolledFileCompressorTest : public test::TempDirTest {};

// A roll asks for the dated files first, then the backups of its own family
// that are not compressed yet.
TEST_F(RolledFileCompressorTest, RollRequestsTheDatedFilesThenTheUncompressedBackupsOfTheFamilyOnly) {
  for (const char* name : {"common.log", "common.log.1", "common.log.2", "common.log.3",
                           "common.2019-03-07.log", "common.2019-03-08.log", "common.log.lock", "other.log.1",
                           "commonx.log.1", "other.2019-03-07.log", "common.txt"}) {
    test::WriteFileBytes(PathOf(name), "line\r\n");
  }
  std::filesystem::create_directory(PathOf("common.log.d"));
  RecordingCompression ops;
  ops.compressed_.insert(WidePath("common.log.3"));
  auto compressor = std::make_unique<RolledFileCompressor>(ops);
  ASSERT_RC(RC_OK, compressor->ReportRolledFile(WidePath("common.log.1")));
  EXPECT_RC(RC_OK, compressor->CollectCompletions(RolledFileCompressor::kWaitWithoutLimit));
  const std::vector<WString> asked = ops.Asked();
  ASSERT_EQ(4u, asked.size());
  EXPECT_EQ((std::set<WString>{WidePath("common.2019-03-07.log"), WidePath("common.2019-03-08.log")}),
            std::set<WString>(asked.begin(), asked.begin() + 2));
  EXPECT_EQ((std::set<WString>{WidePath("common.log.1"), WidePath("common.log.2")}),
            std::set<WString>(asked.begin() + 2, asked.end()));

  // A later roll, reported by its dated name, finds only the new backup,
  // which destroying the compressor still finishes.
  test::WriteFileBytes(PathOf("common.log.4"), "line\r\n");
  ASSERT_RC(RC_OK, compressor->ReportRolledFile(WidePath("common.2019-03-09.log")));
  compressor.reset();
  ASSERT_EQ(5u, ops.Asked().size());
  EXPECT_EQ(WidePath("common.log.4"), ops.Asked().back());
}

// Off btrfs the real calls must fail quietly and leave every file as it was.
TEST_F(RolledFileCompressorTest, SystemCompressionElsewhereThanBtrfsChangesNothing) {
  struct statfs fileSystem {};
  ASSERT_EQ(0, statfs(Dir().c_str(), &fileSystem));
  if (fileSystem.f_type == BTRFS_SUPER_MAGIC) GTEST_SKIP() << "the test folder is on btrfs";
  const std::string content(70000, 'x');
  test::WriteFileBytes(PathOf("common.log.1"), content);
  {
    StandaloneAppenderOwner owner;
    ASSERT_RC(RC_OK, owner.ReportRolledFile(WidePath("common.log.1")));
    EXPECT_RC(RC_OK, owner.Compressor().CollectCompletions(RolledFileCompressor::kWaitWithoutLimit));
  }
  EXPECT_EQ(content, test::ReadFileBytes(PathOf("common.log.1")));
  EXPECT_RC(RC_NOT_SUPPORTED, CompressFile(WidePath("common.log.1")));
}

}  // namespace
}  // namespace zun
