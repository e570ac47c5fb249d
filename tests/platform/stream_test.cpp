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

using test::ReadFileBytes;
using test::WriteFileBytes;

class FileStreamTest : public test::TempDirTest {};

std::string Text(const std::vector<char>& bytes, std::uint32_t count) {
  return std::string(bytes.data(), count);
}

mode_t PermissionsOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : previous_(umask(mask)) {}
  ~UmaskScope() { umask(previous_); }

 private:
  mode_t previous_;
};

TEST_F(FileStreamTest, OpenKindsCreateTruncateOrKeepTheFile) {
  FileStream stream;
  const WString path = WidePath("kinds.txt");

  ASSERT_RC(RC_OK, stream.Open(path, OpenKind::kCreateNew, kAccessWrite, 0, 0));
  EXPECT_TRUE(stream.CreatedFile());
  ASSERT_RC(RC_OK, stream.Write("first", 5, nullptr));
  EXPECT_EQ(stream.GetPosition(), 5u);
  EXPECT_RC(RC_ALREADY_EXISTS, stream.Open(path, OpenKind::kCreateNew, kAccessWrite, 0, 0));
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_EQ(ReadFileBytes(PathOf("kinds.txt")), "first");

  ASSERT_RC(RC_OK, stream.Open(path, OpenKind::kOpenAlways, kAccessRead | kAccessWrite, 0, 0));
  EXPECT_FALSE(stream.CreatedFile());
  EXPECT_EQ(stream.GetPosition(), 0u);
  ASSERT_RC(RC_OK, stream.WriteAt(1, "I", 1, nullptr));
  stream.Close();
  EXPECT_EQ(ReadFileBytes(PathOf("kinds.txt")), "fIrst");

  ASSERT_RC(RC_OK, stream.Open(path, OpenKind::kTruncateExisting, kAccessWrite, 0, 0));
  std::uint64_t size = 99;
  ASSERT_RC(RC_OK, stream.GetSize(&size));
  EXPECT_EQ(size, 0u);
  EXPECT_RC(RC_FILE_NOT_FOUND,
            stream.Open(WidePath("none.txt"), OpenKind::kTruncateExisting, kAccessWrite, 0, 0));
  EXPECT_FALSE(std::filesystem::exists(PathOf("none.txt")));

  WriteFileBytes(PathOf("kinds.txt"), "old content");
  ASSERT_RC(RC_OK, stream.Open(path, OpenKind::kCreateAlways, kAccessWrite, 0, 0));
  EXPECT_FALSE(stream.CreatedFile());
  ASSERT_RC(RC_OK, stream.Write("new", 3, nullptr));
  stream.Close();
  EXPECT_EQ(ReadFileBytes(PathOf("kinds.txt")), "new");

  ASSERT_RC(RC_OK, stream.Open(WidePath("fresh.txt"), OpenKind::kCreateAlways, kAccessWrite, 0, 0));
  EXPECT_TRUE(stream.CreatedFile());
  EXPECT_TRUE(std::filesystem::exists(PathOf("fresh.txt")));
}

TEST_F(FileStreamTest, MissingFileAndFoldersFailAndLeaveTheStreamClosed) {
  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(WidePath("open.txt"), OpenKind::kCreateAlways, kAccessWrite, 0, 0));
  // A failed open still closes what was open before.
  EXPECT_RC(RC_FILE_NOT_FOUND,
            stream.Open(WidePath("missing.txt"), OpenKind::kOpenExisting, kAccessRead, 0, 0));
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_FALSE(stream.CanRead());
  int fd = -1;
  EXPECT_RC(RC_EMPTY, stream.NativeHandle(&fd));
  char byte;
  EXPECT_RC(RC_INVALID_HANDLE, stream.ReadAt(0, &byte, 1, nullptr));
  std::uint64_t size;
  EXPECT_RC(RC_INVALID_HANDLE, stream.GetSize(&size));

  std::filesystem::create_directory(PathOf("folder"));
  EXPECT_RC(RC_ACCESS_DENIED, stream.Open(WidePath("folder"), OpenKind::kOpenExisting, kAccessRead, 0, 0));
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_RC(RC_INVALID_PARAMETER, stream.Open(WidePath("x"), static_cast<OpenKind>(6), kAccessRead, 0, 0));
}

TEST_F(FileStreamTest, ShortReadsReportTheCountOrTruncation) {
  WriteFileBytes(PathOf("four.bin"), "abcd");
  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(WidePath("four.bin"), OpenKind::kOpenExisting, kAccessRead, kShareRead, 0));
  std::vector<char> buffer(10, 0);
  std::uint32_t done = 77;
  EXPECT_RC(RC_INFO_LAST_INPUT, stream.ReadAt(0, buffer.data(), 10, &done));
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(Text(buffer, 4), "abcd");
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.ReadAt(0, buffer.data(), 10, nullptr));
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.ReadAt(4, buffer.data(), 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_RC(RC_INVALID_PARAMETER, stream.ReadAt(1ull << 63, buffer.data(), 1, &done));

  // Sequential reads move the position by what arrived.
  ASSERT_RC(RC_OK, stream.Read(buffer.data(), 3, &done));
  EXPECT_EQ(Text(buffer, 3), "abc");
  EXPECT_RC(RC_INFO_LAST_INPUT, stream.Read(buffer.data(), 3, &done));
  EXPECT_EQ(Text(buffer, done), "d");
  EXPECT_EQ(stream.GetPosition(), 4u);
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.Read(buffer.data(), 3, nullptr));
  EXPECT_EQ(stream.GetPosition(), 4u);
}

TEST_F(FileStreamTest, SeekKeepsThePositionOnNegativeResultOrBadOrigin) {
  WriteFileBytes(PathOf("seek.bin"), "0123456789");
  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(WidePath("seek.bin"), OpenKind::kOpenExisting, kAccessRead, 0, 0));
  ASSERT_RC(RC_OK, stream.Seek(3, 0));
  EXPECT_RC(RC_NEGATIVE_SEEK, stream.Seek(-1, 0));
  EXPECT_EQ(stream.GetPosition(), 3u);
  EXPECT_RC(RC_NEGATIVE_SEEK, stream.Seek(-4, 1));
  EXPECT_RC(RC_NEGATIVE_SEEK, stream.Seek(INT64_MIN, 1));
  EXPECT_EQ(stream.GetPosition(), 3u);
  EXPECT_RC(RC_INVALID_PARAMETER, stream.Seek(0, 3));
  EXPECT_EQ(stream.GetPosition(), 3u);
  ASSERT_RC(RC_OK, stream.Seek(-3, 1));
  EXPECT_EQ(stream.GetPosition(), 0u);
  ASSERT_RC(RC_OK, stream.Seek(-2, 2));
  char two[2];
  ASSERT_RC(RC_OK, stream.Read(two, 2, nullptr));
  EXPECT_EQ(std::string(two, 2), "89");
  ASSERT_RC(RC_OK, stream.Seek(5, 2));
  EXPECT_EQ(stream.GetPosition(), 15u);
}

TEST_F(FileStreamTest, AppendKindWritesAtTheEndWhateverTheOffset) {
  WriteFileBytes(PathOf("app.log"), "abc");
  FileStream stream;
  ASSERT_RC(RC_OK,
            stream.Open(WidePath("app.log"), OpenKind::kAppend, kAccessWrite, kShareRead | kShareWrite, 0));
  std::uint32_t done = 0;
  ASSERT_RC(RC_OK, stream.WriteAt(0, "XY", 2, &done));
  EXPECT_EQ(done, 2u);
  ASSERT_RC(RC_OK, stream.WriteAt(1, "Z", 1, nullptr));
  EXPECT_EQ(ReadFileBytes(PathOf("app.log")), "abcXYZ");

  ASSERT_RC(RC_OK, stream.Open(WidePath("new.log"), OpenKind::kAppend, kAccessWrite, 0, 0));
  EXPECT_TRUE(stream.CreatedFile());
}

TEST_F(FileStreamTest, NewFileModeFollowsUmaskUnlessExact) {
  UmaskScope mask(022);
  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(WidePath("masked"), OpenKind::kCreateAlways, kAccessWrite, 0, 0));
  EXPECT_EQ(PermissionsOf(PathOf("masked")), 0644u);
  ASSERT_RC(RC_OK, stream.Open(WidePath("exact"), OpenKind::kCreateAlways, kAccessWrite, 0, 0, 0666, true));
  EXPECT_EQ(PermissionsOf(PathOf("exact")), 0666u);
  ASSERT_RC(RC_OK, stream.Open(WidePath("private"), OpenKind::kCreateNew, kAccessWrite, 0, 0, 0600, true));
  EXPECT_EQ(PermissionsOf(PathOf("private")), 0600u);
  // An existing file keeps its own permissions.
  std::filesystem::permissions(PathOf("masked"), std::filesystem::perms(0640));
  ASSERT_RC(RC_OK, stream.Open(WidePath("masked"), OpenKind::kCreateAlways, kAccessWrite, 0, 0, 0666, true));
  EXPECT_EQ(PermissionsOf(PathOf("masked")), 0640u);
}

TEST_F(FileStreamTest, AccessBitsLimitWhatTheStreamDoes) {
  WriteFileBytes(PathOf("data"), "12345");
  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(WidePath("data"), OpenKind::kOpenExisting, kAccessRead, kShareRead, 0));
  EXPECT_TRUE(stream.CanRead());
  EXPECT_FALSE(stream.CanWrite());
  std::uint32_t done = 9;
  EXPECT_RC(RC_ACCESS_DENIED, stream.WriteAt(0, "x", 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_RC(RC_ACCESS_DENIED, stream.SetSize(1));

  ASSERT_RC(RC_OK, stream.Open(WidePath("data"), OpenKind::kOpenExisting, kAccessWrite, 0, 0));
  EXPECT_FALSE(stream.CanRead());
  EXPECT_TRUE(stream.CanWrite());
  char byte;
  EXPECT_RC(RC_ACCESS_DENIED, stream.ReadAt(0, &byte, 1, nullptr));
  EXPECT_EQ(ReadFileBytes(PathOf("data")), "12345");
}

TEST_F(FileStreamTest, InterfacesAndNativeHandle) {
  FileStream stream;
  bool found = true;
  EXPECT_EQ(stream.QueryInterface(kStreamInterfaceId, 0, &found), static_cast<Stream*>(&stream));
  EXPECT_TRUE(found);
  EXPECT_EQ(stream.QueryInterface(kPersistenceInterfaceId, 0, &found), nullptr);
  EXPECT_FALSE(found);
  EXPECT_EQ(stream.QueryInterface(1234, 0, &found), nullptr);
  EXPECT_FALSE(found);
  auto* native = static_cast<FileStream*>(stream.QueryInterface(kNativeHandleInterfaceId, 0, &found));
  ASSERT_TRUE(found);
  int fd = -1;
  EXPECT_RC(RC_EMPTY, native->NativeHandle(&fd));

  ASSERT_RC(RC_OK, stream.Open(WidePath("h"), OpenKind::kCreateAlways, kAccessRead | kAccessWrite, 0,
                               kOptionWriteThrough | kOptionRandomAccess | kOptionAsynchronous));
  ASSERT_RC(RC_OK, native->NativeHandle(&fd));
  struct stat byHandle {
  }, byName{};
  ASSERT_EQ(fstat(fd, &byHandle), 0);
  ASSERT_EQ(stat(PathOf("h").c_str(), &byName), 0);
  EXPECT_EQ(byHandle.st_ino, byName.st_ino);
  const int flags = fcntl(fd, F_GETFL);
  EXPECT_NE(flags & O_DSYNC, 0);
  EXPECT_EQ(flags & O_APPEND, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_TRUE(stream.IsAsynchronous());
  stream.Close();
  EXPECT_FALSE(stream.IsAsynchronous());
}

TEST_F(FileStreamTest, SizeIsCachedOnlyForReadersThatDenyWriteSharing) {
  WriteFileBytes(PathOf("grow"), "1234");
  FileStream cached, live;
  ASSERT_RC(RC_OK, cached.Open(WidePath("grow"), OpenKind::kOpenExisting, kAccessRead, kShareRead, 0));
  ASSERT_RC(RC_OK,
            live.Open(WidePath("grow"), OpenKind::kOpenExisting, kAccessRead, kShareRead | kShareWrite, 0));
  std::uint64_t size = 0;
  ASSERT_RC(RC_OK, cached.GetSize(&size));
  EXPECT_EQ(size, 4u);
  ASSERT_RC(RC_OK, live.GetSize(&size));
  EXPECT_EQ(size, 4u);

  FileStream writer;
  ASSERT_RC(RC_OK,
            writer.Open(WidePath("grow"), OpenKind::kAppend, kAccessWrite, kShareRead | kShareWrite, 0));
  ASSERT_RC(RC_OK, writer.Write("5678", 4, nullptr));
  ASSERT_RC(RC_OK, cached.GetSize(&size));
  EXPECT_EQ(size, 4u);
  ASSERT_RC(RC_OK, live.GetSize(&size));
  EXPECT_EQ(size, 8u);
  // Reopening forgets the cached size.
  ASSERT_RC(RC_OK, cached.Open(WidePath("grow"), OpenKind::kOpenExisting, kAccessRead, kShareRead, 0));
  ASSERT_RC(RC_OK, cached.GetSize(&size));
  EXPECT_EQ(size, 8u);
}

TEST_F(FileStreamTest, SetSizeExtendsWithZerosAndTruncates) {
  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(WidePath("sz"), OpenKind::kCreateAlways, kAccessRead | kAccessWrite, 0, 0));
  ASSERT_RC(RC_OK, stream.Write("abc", 3, nullptr));
  ASSERT_RC(RC_OK, stream.SetSize(6));
  EXPECT_EQ(ReadFileBytes(PathOf("sz")), std::string("abc\0\0\0", 6));
  ASSERT_RC(RC_OK, stream.SetSize(2));
  EXPECT_EQ(ReadFileBytes(PathOf("sz")), "ab");
  // Writing past the end leaves a zero gap.
  ASSERT_RC(RC_OK, stream.WriteAt(4, "z", 1, nullptr));
  EXPECT_EQ(ReadFileBytes(PathOf("sz")), std::string("ab\0\0z", 5));
}

TEST_F(FileStreamTest, DeleteOnCloseRemovesOnlyItsOwnFile) {
  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(WidePath("temp"), OpenKind::kCreateNew, kAccessWrite, kShareDelete,
                               kOptionDeleteOnClose));
  EXPECT_TRUE(std::filesystem::exists(PathOf("temp")));
  stream.Close();
  EXPECT_FALSE(std::filesystem::exists(PathOf("temp")));

  ASSERT_RC(RC_OK, stream.Open(WidePath("temp"), OpenKind::kCreateNew, kAccessWrite, kShareDelete,
                               kOptionDeleteOnClose));
  std::filesystem::rename(PathOf("temp"), PathOf("moved"));
  WriteFileBytes(PathOf("temp"), "someone else's");
  stream.Close();
  EXPECT_EQ(ReadFileBytes(PathOf("temp")), "someone else's");

  {
    FileStream scoped;
    ASSERT_RC(RC_OK,
              scoped.Open(WidePath("scoped"), OpenKind::kCreateNew, kAccessWrite, 0, kOptionDeleteOnClose));
  }
  EXPECT_FALSE(std::filesystem::exists(PathOf("scoped")));
}

TEST_F(FileStreamTest, BackslashesSeparateFolders) {
  std::filesystem::create_directory(PathOf("sub"));
  WString path = WidePath("sub");
  path += u"\\inner.txt";
  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(path, OpenKind::kCreateNew, kAccessWrite, 0, 0));
  ASSERT_RC(RC_OK, stream.Write("x", 1, nullptr));
  EXPECT_EQ(ReadFileBytes(PathOf("sub/inner.txt")), "x");
}

TEST_F(FileStreamTest, ViewsShowAndChangeTheFileBytes) {
  const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  std::string content(3 * page + 100, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + (i * 7) % 26);
  WriteFileBytes(PathOf("map.bin"), content);

  FileStream stream;
  ASSERT_RC(RC_OK,
            stream.Open(WidePath("map.bin"), OpenKind::kOpenExisting, kAccessRead | kAccessWrite, 0, 0));
  std::unique_ptr<StreamView> view;
  // An offset inside a page: the view still starts exactly there.
  ASSERT_RC(RC_OK, stream.MapView(page + 10, 50, false, &view));
  EXPECT_TRUE(view->ReadOnly());
  ASSERT_EQ(view->Length(), 50u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(view->Data()), 50), content.substr(page + 10, 50));
  EXPECT_RC(RC_INVALID_OPERATION, stream.SetSize(10));
  view.reset();

  ASSERT_RC(RC_OK, stream.MapView(2 * page + 3, 0, true, &view));
  ASSERT_EQ(view->Length(), content.size() - (2 * page + 3));
  std::memcpy(view->Data(), "WRITTEN", 7);
  ASSERT_RC(RC_OK, view->Flush());
  content.replace(2 * page + 3, 7, "WRITTEN");
  EXPECT_EQ(ReadFileBytes(PathOf("map.bin")), content);
  view->Data()[view->Length() - 1] = '!';
  view.reset();
  content.back() = '!';
  EXPECT_EQ(ReadFileBytes(PathOf("map.bin")), content);

  EXPECT_RC(RC_INVALID_PARAMETER, stream.MapView(content.size(), 0, false, &view));
  EXPECT_RC(RC_INVALID_PARAMETER, stream.MapView(10, content.size(), false, &view));
  EXPECT_EQ(view, nullptr);
  ASSERT_RC(RC_OK, stream.SetSize(10));

  FileStream reader;
  ASSERT_RC(RC_OK, reader.Open(WidePath("map.bin"), OpenKind::kOpenExisting, kAccessRead, kShareRead, 0));
  EXPECT_RC(RC_ACCESS_DENIED, reader.MapView(0, 4, true, &view));
}

TEST(MemoryStreamTest, WriteBeyondTheEndFillsTheGapWithZeros) {
  MemoryStream stream;
  std::uint32_t done = 0;
  ASSERT_RC(RC_OK, stream.WriteAt(8, "tail", 4, &done));
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(stream.Size(), 12u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Data()), 12), std::string(8, '\0') + "tail");

  // Bytes cut off by a smaller size come back as zeros when it grows again.
  ASSERT_RC(RC_OK, stream.SetSize(9));
  ASSERT_RC(RC_OK, stream.SetSize(12));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Data()), 12),
            std::string(8, '\0') + "t" + std::string(3, '\0'));
  ASSERT_RC(RC_OK, stream.Write("ab", 2, nullptr));
  EXPECT_EQ(stream.Data()[0], 'a');
  EXPECT_EQ(stream.GetPosition(), 2u);
}

TEST(MemoryStreamTest, ReadsReportTheEndAsDesigned) {
  std::uint8_t bytes[] = {'w', 'x', 'y', 'z'};
  MemoryStream stream(bytes, sizeof bytes, sizeof bytes, true);
  char out[8] = {};
  std::uint32_t done = 99;
  ASSERT_RC(RC_OK, stream.ReadAt(1, out, 2, &done));
  EXPECT_EQ(std::string(out, 2), "xy");
  EXPECT_RC(RC_INFO_LAST_INPUT, stream.ReadAt(2, out, 8, &done));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(std::string(out, 2), "yz");
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.ReadAt(2, out, 8, nullptr));
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.ReadAt(4, out, 1, nullptr));
  EXPECT_RC(RC_INFO_LAST_INPUT, stream.ReadAt(4, out, 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.ReadAt(5, out, 1, &done));
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.ReadAt(1ull << 32, out, 1, &done));
}

TEST(MemoryStreamTest, FixedBufferRespectsCapacityAndReadOnly) {
  std::uint8_t buffer[8];
  std::memset(buffer, 0xAA, sizeof buffer);
  MemoryStream stream(buffer, sizeof buffer, 2, false);
  ASSERT_RC(RC_OK, stream.WriteAt(5, "Q", 1, nullptr));
  EXPECT_EQ(stream.Size(), 6u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 2), 4), std::string(3, '\0') + "Q");
  EXPECT_RC(RC_OFFSET_BEYOND_END, stream.WriteAt(6, "abc", 3, nullptr));
  EXPECT_RC(RC_OFFSET_BEYOND_END, stream.SetSize(9));
  EXPECT_EQ(stream.Size(), 6u);
  EXPECT_EQ(buffer[6], 0xAA);
  EXPECT_RC(RC_CANNOT_GROW, stream.SetSize(1ull << 32));
  EXPECT_RC(RC_INPUT_TRUNCATED, stream.WriteAt(0xFFFFFFFFull, "ab", 2, nullptr));

  MemoryStream readOnly(buffer, sizeof buffer, 8, true);
  std::uint32_t done = 5;
  EXPECT_RC(RC_ACCESS_DENIED, readOnly.WriteAt(0, "z", 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_RC(RC_ACCESS_DENIED, readOnly.SetSize(2));
  std::unique_ptr<StreamView> view;
  EXPECT_RC(RC_ACCESS_DENIED, readOnly.MapView(0, 1, true, &view));
  EXPECT_EQ(readOnly.Size(), 8u);
}

class VectorBuffer : public GrowableBuffer {
 public:
  ResultCode Grow(std::uint32_t size) override {
    if (size > limit) return RC_OUT_OF_MEMORY;
    bytes.resize(size, 0xEE);
    ++grows;
    return RC_OK;
  }
  std::uint8_t* Data() override { return bytes.data(); }
  std::vector<std::uint8_t> bytes;
  std::uint32_t limit = 16;
  int grows = 0;
};

TEST(MemoryStreamTest, OwnedBufferGrowsThroughItsOwner) {
  VectorBuffer owner;
  MemoryStream stream(&owner, 0, false);
  ASSERT_RC(RC_OK, stream.WriteAt(3, "abc", 3, nullptr));
  EXPECT_EQ(owner.grows, 1);
  EXPECT_EQ(std::string(owner.bytes.begin(), owner.bytes.end()), std::string(3, '\0') + "abc");
  EXPECT_RC(RC_OUT_OF_MEMORY, stream.WriteAt(10, "0123456789", 10, nullptr));
  EXPECT_EQ(stream.Size(), 6u);
  ASSERT_RC(RC_OK, stream.SetSize(8));
  EXPECT_EQ(std::string(owner.bytes.begin() + 6, owner.bytes.begin() + 8), std::string(2, '\0'));
}

TEST(MemoryStreamTest, ViewIsAWindowOnTheBuffer) {
  MemoryStream stream;
  ASSERT_RC(RC_OK, stream.Write("0123456789", 10, nullptr));
  std::unique_ptr<StreamView> view;
  ASSERT_RC(RC_OK, stream.MapView(4, 3, true, &view));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(view->Data()), 3), "456");
  view->Data()[0] = 'X';
  char out[10];
  ASSERT_RC(RC_OK, stream.ReadAt(0, out, 10, nullptr));
  EXPECT_EQ(std::string(out, 10), "0123X56789");
  ASSERT_RC(RC_OK, stream.MapView(7, 0, false, &view));
  EXPECT_EQ(view->Length(), 3u);
  EXPECT_TRUE(view->ReadOnly());
  EXPECT_RC(RC_OFFSET_BEYOND_END, stream.MapView(8, 5, false, &view));
  EXPECT_RC(RC_OFFSET_BEYOND_END, stream.MapView(11, 0, false, &view));
}

}  // namespace
}  // namespace zun
