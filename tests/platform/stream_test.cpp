#include "platform/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::WriteFileBytes;

using enum OpenKind;

class FileStreamTest : public test::TempDirTest {};

fs::perms PermissionsOf(const fs::path& path) { return fs::status(path).permissions(); }

std::string Bytes(const void* data, std::size_t count) {
  return std::string(static_cast<const char*>(data), count);
}

TEST_F(FileStreamTest, OpenKindsCreateTruncateKeepOrAppend) {
  FileStream stream;
  fs::create_directory(PathOf("sub"));
  // Backslashes separate folders.
  const WString path = WidePath("sub") + u"\\kinds.txt";
  ASSERT_RC(RC_OK, stream.Open(path, kCreateNew, kAccessWrite, 0, 0));
  EXPECT_TRUE(stream.CreatedFile());
  ASSERT_RC(RC_OK, stream.Write("first", 5, nullptr));
  EXPECT_RC(RC_ALREADY_EXISTS, stream.Open(path, kCreateNew, kAccessWrite, 0, 0));
  EXPECT_EQ(ReadFileBytes(PathOf("sub/kinds.txt")), "first");

  ASSERT_RC(RC_OK, stream.Open(path, kOpenAlways, kAccessRead | kAccessWrite, 0, 0));
  EXPECT_FALSE(stream.CreatedFile());
  ASSERT_RC(RC_OK, stream.WriteAt(1, "I", 1, nullptr));
  EXPECT_EQ(ReadFileBytes(PathOf("sub/kinds.txt")), "fIrst");
  // Append writes at the end whatever the offset.
  ASSERT_RC(RC_OK, stream.Open(path, kAppend, kAccessWrite, kShareRead | kShareWrite, 0));
  ASSERT_RC(RC_OK, stream.WriteAt(0, "XY", 2, nullptr));
  ASSERT_RC(RC_OK, stream.WriteAt(1, "Z", 1, nullptr));
  EXPECT_EQ(ReadFileBytes(PathOf("sub/kinds.txt")), "fIrstXYZ");

  ASSERT_RC(RC_OK, stream.Open(path, kCreateAlways, kAccessWrite, 0, 0));
  ASSERT_RC(RC_OK, stream.Write("new", 3, nullptr));
  EXPECT_EQ(ReadFileBytes(PathOf("sub/kinds.txt")), "new");
  ASSERT_RC(RC_OK, stream.Open(path, kTruncateExisting, kAccessWrite, 0, 0));
  EXPECT_EQ(ReadFileBytes(PathOf("sub/kinds.txt")), "");

  // A failed open still closes what was open before, and creates nothing.
  EXPECT_RC(RC_FILE_NOT_FOUND, stream.Open(WidePath("none"), kOpenExisting, kAccessRead, 0, 0));
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_RC(RC_FILE_NOT_FOUND, stream.Open(WidePath("none"), kTruncateExisting, kAccessWrite, 0, 0));
  EXPECT_FALSE(fs::exists(PathOf("none")));
  EXPECT_RC(RC_ACCESS_DENIED, stream.Open(WidePath("sub"), kOpenExisting, kAccessRead, 0, 0));
  EXPECT_RC(RC_INVALID_PARAMETER, stream.Open(WidePath("x"), static_cast<OpenKind>(6), kAccessRead, 0, 0));
}

TEST_F(FileStreamTest, ReadsPastTheEndAndSeeksBeforeTheStart) {
  WriteFileBytes(PathOf("ten.bin"), "0123456789");
  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(WidePath("ten.bin"), kOpenExisting, kAccessRead, kShareRead, 0));
  char buffer[16];
  std::uint32_t done = 77;
  EXPECT_RC(RC_INFO_LAST_INPUT, stream.ReadAt(6, buffer, 10, &done));
  EXPECT_EQ(Bytes(buffer, done), "6789");
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.ReadAt(6, buffer, 10, nullptr));
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.ReadAt(10, buffer, 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_RC(RC_INVALID_PARAMETER, stream.ReadAt(1ull << 63, buffer, 1, &done));

  ASSERT_RC(RC_OK, stream.Seek(3, 0));
  EXPECT_RC(RC_NEGATIVE_SEEK, stream.Seek(-1, 0));
  EXPECT_RC(RC_NEGATIVE_SEEK, stream.Seek(-4, 1));
  EXPECT_RC(RC_NEGATIVE_SEEK, stream.Seek(INT64_MIN, 1));
  EXPECT_RC(RC_INVALID_PARAMETER, stream.Seek(0, 3));
  EXPECT_EQ(stream.GetPosition(), 3u);
  ASSERT_RC(RC_OK, stream.Seek(-2, 2));
  // Sequential reads move the position by what arrived.
  EXPECT_RC(RC_INFO_LAST_INPUT, stream.Read(buffer, 3, &done));
  EXPECT_EQ(Bytes(buffer, done), "89");
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.Read(buffer, 3, nullptr));
  EXPECT_EQ(stream.GetPosition(), 10u);
}

TEST_F(FileStreamTest, NewFileModeFollowsUmaskUnlessExact) {
  const mode_t previous = umask(022);
  FileStream stream;
  EXPECT_RC(RC_OK, stream.Open(WidePath("masked"), kCreateAlways, kAccessWrite, 0, 0));
  EXPECT_EQ(PermissionsOf(PathOf("masked")), fs::perms(0644));
  EXPECT_RC(RC_OK, stream.Open(WidePath("exact"), kCreateNew, kAccessWrite, 0, 0, 0666, true));
  fs::permissions(PathOf("masked"), fs::perms(0640));
  EXPECT_RC(RC_OK, stream.Open(WidePath("masked"), kCreateAlways, kAccessWrite, 0, 0, 0666, true));
  umask(previous);
  EXPECT_EQ(PermissionsOf(PathOf("exact")), fs::perms(0666));
  // An existing file keeps its own permissions.
  EXPECT_EQ(PermissionsOf(PathOf("masked")), fs::perms(0640));
}

TEST_F(FileStreamTest, SizeIsCachedOnlyForReadersThatDenyWriteSharing) {
  WriteFileBytes(PathOf("grow"), "1234");
  FileStream cached, live, writer;
  ASSERT_RC(RC_OK, cached.Open(WidePath("grow"), kOpenExisting, kAccessRead, kShareRead, 0));
  ASSERT_RC(RC_OK, live.Open(WidePath("grow"), kOpenExisting, kAccessRead, kShareRead | kShareWrite, 0));
  std::uint64_t size = 0;
  ASSERT_RC(RC_OK, cached.GetSize(&size));
  ASSERT_RC(RC_OK, writer.Open(WidePath("grow"), kAppend, kAccessWrite, kShareRead | kShareWrite, 0));
  ASSERT_RC(RC_OK, writer.Write("5678", 4, nullptr));
  ASSERT_RC(RC_OK, cached.GetSize(&size));
  EXPECT_EQ(size, 4u);
  ASSERT_RC(RC_OK, live.GetSize(&size));
  EXPECT_EQ(size, 8u);
}

TEST_F(FileStreamTest, SetSizeZeroFillsAndAccessBitsLimitTheStream) {
  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(WidePath("sz"), kCreateAlways, kAccessRead | kAccessWrite, 0, 0));
  ASSERT_RC(RC_OK, stream.Write("abc", 3, nullptr));
  ASSERT_RC(RC_OK, stream.SetSize(6));
  EXPECT_EQ(ReadFileBytes(PathOf("sz")), std::string("abc\0\0\0", 6));
  ASSERT_RC(RC_OK, stream.SetSize(2));
  ASSERT_RC(RC_OK, stream.WriteAt(4, "z", 1, nullptr));
  const std::string expected("ab\0\0z", 5);
  EXPECT_EQ(ReadFileBytes(PathOf("sz")), expected);

  ASSERT_RC(RC_OK, stream.Open(WidePath("sz"), kOpenExisting, kAccessRead, kShareRead, 0));
  std::uint32_t done = 9;
  EXPECT_RC(RC_ACCESS_DENIED, stream.WriteAt(0, "x", 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_RC(RC_ACCESS_DENIED, stream.SetSize(1));
  ASSERT_RC(RC_OK, stream.Open(WidePath("sz"), kOpenExisting, kAccessWrite, 0, 0));
  char byte;
  EXPECT_RC(RC_ACCESS_DENIED, stream.ReadAt(0, &byte, 1, nullptr));
  EXPECT_EQ(ReadFileBytes(PathOf("sz")), expected);
}

TEST_F(FileStreamTest, OptionsReachTheDescriptorAndDeleteOnCloseRemovesOnlyItsOwnFile) {
  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(WidePath("h"), kCreateNew, kAccessRead | kAccessWrite, kShareDelete,
                               kOptionWriteThrough | kOptionAsynchronous | kOptionDeleteOnClose));
  int fd = -1;
  ASSERT_RC(RC_OK, stream.NativeHandle(&fd));
  ASSERT_EQ(write(fd, "q", 1), 1);
  EXPECT_EQ(ReadFileBytes(PathOf("h")), "q");
  EXPECT_NE(fcntl(fd, F_GETFL) & O_DSYNC, 0);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_APPEND, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_TRUE(stream.IsAsynchronous());
  stream.Close();
  EXPECT_FALSE(fs::exists(PathOf("h")));

  ASSERT_RC(RC_OK, stream.Open(WidePath("h"), kCreateNew, kAccessWrite, kShareDelete, kOptionDeleteOnClose));
  fs::rename(PathOf("h"), PathOf("moved"));
  WriteFileBytes(PathOf("h"), "someone else's");
  stream.Close();
  EXPECT_EQ(ReadFileBytes(PathOf("h")), "someone else's");
}

TEST_F(FileStreamTest, ViewsShowAndChangeTheFileBytes) {
  const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  std::string content(3 * page + 100, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + (i * 7) % 26);
  WriteFileBytes(PathOf("map.bin"), content);

  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(WidePath("map.bin"), kOpenExisting, kAccessRead | kAccessWrite, 0, 0));
  std::unique_ptr<StreamView> view;
  // An offset inside a page: the view still starts exactly there.
  ASSERT_RC(RC_OK, stream.MapView(page + 10, 50, false, &view));
  ASSERT_EQ(view->Length(), 50u);
  EXPECT_EQ(Bytes(view->Data(), 50), content.substr(page + 10, 50));
  EXPECT_RC(RC_INVALID_OPERATION, stream.SetSize(10));

  ASSERT_RC(RC_OK, stream.MapView(2 * page + 3, 0, true, &view));
  ASSERT_EQ(view->Length(), content.size() - (2 * page + 3));
  std::memcpy(view->Data(), "WRITTEN", 7);
  view->Data()[view->Length() - 1] = '!';
  view.reset();
  content.replace(2 * page + 3, 7, "WRITTEN");
  content.back() = '!';
  EXPECT_EQ(ReadFileBytes(PathOf("map.bin")), content);

  EXPECT_RC(RC_INVALID_PARAMETER, stream.MapView(10, content.size(), false, &view));
  FileStream reader;
  ASSERT_RC(RC_OK, reader.Open(WidePath("map.bin"), kOpenExisting, kAccessRead, kShareRead, 0));
  EXPECT_RC(RC_ACCESS_DENIED, reader.MapView(0, 4, true, &view));
}

TEST(MemoryStreamTest, GapsFillWithZerosReadsReportTheEndViewsShowTheBuffer) {
  MemoryStream stream;
  ASSERT_RC(RC_OK, stream.WriteAt(8, "tail", 4, nullptr));
  EXPECT_EQ(Bytes(stream.Data(), stream.Size()), std::string(8, '\0') + "tail");
  // Bytes cut off by a smaller size come back as zeros when it grows again.
  ASSERT_RC(RC_OK, stream.SetSize(9));
  ASSERT_RC(RC_OK, stream.SetSize(12));
  EXPECT_EQ(Bytes(stream.Data(), 12), std::string(8, '\0') + "t" + std::string(3, '\0'));

  char out[16];
  std::uint32_t done = 99;
  EXPECT_RC(RC_INFO_LAST_INPUT, stream.ReadAt(7, out, 8, &done));
  EXPECT_EQ(Bytes(out, done), std::string("\0t\0\0\0", 5));
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.ReadAt(7, out, 8, nullptr));
  EXPECT_RC(RC_INFO_LAST_INPUT, stream.ReadAt(12, out, 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.ReadAt(13, out, 1, &done));
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.ReadAt(1ull << 32, out, 1, &done));

  // A view is a window on the buffer itself.
  ASSERT_RC(RC_OK, stream.WriteAt(0, "0123456789", 10, nullptr));
  std::unique_ptr<StreamView> view;
  ASSERT_RC(RC_OK, stream.MapView(4, 3, true, &view));
  EXPECT_EQ(Bytes(view->Data(), 3), "456");
  view->Data()[0] = 'X';
  EXPECT_EQ(Bytes(stream.Data(), 10), "0123X56789");
  ASSERT_RC(RC_OK, stream.MapView(7, 0, false, &view));
  EXPECT_EQ(view->Length(), 5u);
  EXPECT_RC(RC_OFFSET_BEYOND_END, stream.MapView(8, 5, false, &view));
}

class VectorBuffer : public GrowableBuffer {
 public:
  ResultCode Grow(std::uint32_t size) override {
    if (size > 16) return RC_OUT_OF_MEMORY;
    bytes.resize(size, 0xEE);
    return RC_OK;
  }
  std::uint8_t* Data() override { return bytes.data(); }
  std::vector<std::uint8_t> bytes;
};

// A caller's fixed buffer keeps to its capacity and read-only flag; an
// owned buffer grows through its owner.
TEST(MemoryStreamTest, FixedAndOwnedBuffersKeepTheirBounds) {
  std::uint8_t buffer[8];
  std::memset(buffer, 0xAA, sizeof buffer);
  MemoryStream stream(buffer, sizeof buffer, 2, false);
  ASSERT_RC(RC_OK, stream.WriteAt(5, "Q", 1, nullptr));
  EXPECT_EQ(Bytes(buffer + 2, 4), std::string(3, '\0') + "Q");
  EXPECT_RC(RC_OFFSET_BEYOND_END, stream.WriteAt(6, "abc", 3, nullptr));
  EXPECT_RC(RC_OFFSET_BEYOND_END, stream.SetSize(9));
  EXPECT_EQ(stream.Size(), 6u);
  EXPECT_EQ(buffer[6], 0xAA);
  EXPECT_RC(RC_CANNOT_GROW, stream.SetSize(1ull << 32));

  MemoryStream readOnly(buffer, sizeof buffer, 8, true);
  EXPECT_RC(RC_ACCESS_DENIED, readOnly.WriteAt(0, "z", 1, nullptr));
  EXPECT_RC(RC_ACCESS_DENIED, readOnly.SetSize(2));
  EXPECT_EQ(buffer[0], 0xAA);

  VectorBuffer owner;
  MemoryStream owned(&owner, 0, false);
  ASSERT_RC(RC_OK, owned.WriteAt(3, "abc", 3, nullptr));
  EXPECT_EQ(Bytes(owner.bytes.data(), owner.bytes.size()), std::string(3, '\0') + "abc");
  EXPECT_RC(RC_OUT_OF_MEMORY, owned.WriteAt(10, "0123456789", 10, nullptr));
  EXPECT_EQ(owned.Size(), 6u);
}

}  // namespace
}  // namespace zun
