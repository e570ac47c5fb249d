#include "platform/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
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

std::string Bytes(const void* data, std::size_t count) {
  return std::string(static_cast<const char*>(data), count);
}

TEST_F(FileStreamTest, OpenKindsCreateTruncateOrAppend) {
  FileStream stream;
  fs::create_directory(PathOf("sub"));
  // Backslashes separate folders.
  const WString path = WidePath("sub") + u"\\kinds.txt";
  ASSERT_RC(RC_OK, stream.Open(path, kCreateNew, kAccessWrite, 0, 0));
  ASSERT_RC(RC_OK, stream.Write("first", 5, nullptr));
  EXPECT_RC(RC_ALREADY_EXISTS, stream.Open(path, kCreateNew, kAccessWrite, 0, 0));
  EXPECT_EQ(ReadFileBytes(PathOf("sub/kinds.txt")), "first");

  // Append writes at the end whatever the offset.
  ASSERT_RC(RC_OK, stream.Open(path, kAppend, kAccessWrite, kShareRead | kShareWrite, 0));
  ASSERT_RC(RC_OK, stream.WriteAt(0, "XY", 2, nullptr));
  ASSERT_RC(RC_OK, stream.WriteAt(1, "Z", 1, nullptr));
  EXPECT_EQ(ReadFileBytes(PathOf("sub/kinds.txt")), "firstXYZ");

  ASSERT_RC(RC_OK, stream.Open(path, kCreateAlways, kAccessWrite, 0, 0));
  ASSERT_RC(RC_OK, stream.Write("new", 3, nullptr));
  EXPECT_EQ(ReadFileBytes(PathOf("sub/kinds.txt")), "new");

  // A failed open still closes what was open before.
  EXPECT_RC(RC_FILE_NOT_FOUND, stream.Open(WidePath("none"), kOpenExisting, kAccessRead, 0, 0));
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_RC(RC_ACCESS_DENIED, stream.Open(WidePath("sub"), kOpenExisting, kAccessRead, 0, 0));
}

// A new file's mode follows the umask unless exact; an existing file keeps
// its own. A reader that lets others write sees the size they make.
TEST_F(FileStreamTest, ModesOfNewFilesAndTheSizeOfASharedFile) {
  const mode_t previous = umask(022);
  FileStream stream, live, writer;
  EXPECT_RC(RC_OK, stream.Open(WidePath("masked"), kCreateAlways, kAccessWrite, 0, 0));
  EXPECT_EQ(fs::status(PathOf("masked")).permissions(), fs::perms(0644));
  EXPECT_RC(RC_OK, stream.Open(WidePath("exact"), kCreateNew, kAccessWrite, 0, 0, 0666, true));
  fs::permissions(PathOf("masked"), fs::perms(0640));
  EXPECT_RC(RC_OK, stream.Open(WidePath("masked"), kCreateAlways, kAccessWrite, 0, 0, 0666, true));
  umask(previous);
  EXPECT_EQ(fs::status(PathOf("exact")).permissions(), fs::perms(0666));
  EXPECT_EQ(fs::status(PathOf("masked")).permissions(), fs::perms(0640));

  WriteFileBytes(PathOf("grow"), "1234");
  ASSERT_RC(RC_OK, live.Open(WidePath("grow"), kOpenExisting, kAccessRead, kShareRead | kShareWrite, 0));
  std::uint64_t size = 0;
  ASSERT_RC(RC_OK, live.GetSize(&size));
  ASSERT_RC(RC_OK, writer.Open(WidePath("grow"), kAppend, kAccessWrite, kShareRead | kShareWrite, 0));
  ASSERT_RC(RC_OK, writer.Write("5678", 4, nullptr));
  ASSERT_RC(RC_OK, live.GetSize(&size));
  EXPECT_EQ(size, 8u);
}

// A child that runs another program inherits no descriptor of ours.
TEST_F(FileStreamTest, DescriptorsCloseOnExecAndDeleteOnCloseRemovesOnlyItsOwnFile) {
  FileStream stream;
  ASSERT_RC(RC_OK, stream.Open(WidePath("h"), kCreateNew, kAccessWrite, kShareDelete, kOptionDeleteOnClose));
  int fd = -1;
  ASSERT_RC(RC_OK, stream.NativeHandle(&fd));
  ASSERT_RC(RC_OK, stream.Write("q", 1, nullptr));
  EXPECT_EQ(ReadFileBytes(PathOf("h")), "q");
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  stream.Close();
  EXPECT_FALSE(fs::exists(PathOf("h")));

  ASSERT_RC(RC_OK, stream.Open(WidePath("h"), kCreateNew, kAccessWrite, kShareDelete, kOptionDeleteOnClose));
  fs::rename(PathOf("h"), PathOf("moved"));
  WriteFileBytes(PathOf("h"), "someone else's");
  stream.Close();
  EXPECT_EQ(ReadFileBytes(PathOf("h")), "someone else's");
}

// The same steps on a file and on a memory buffer; where the two differ,
// each names its own code.
TEST_F(FileStreamTest, FileAndMemoryAgreeOnGapsEndsViewsAndReadOnlyAccess) {
  const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  std::string content(3 * page + 100, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + (i * 7) % 26);
  FileStream file, fileReader;
  ASSERT_RC(RC_OK, file.Open(WidePath("s"), kCreateNew, kAccessRead | kAccessWrite, 0, 0));
  MemoryStream memory;
  struct Kind {
    Stream* stream;
    std::function<std::string()> bytes;  // seen around the stream
    ResultCode readAtEnd;
  };
  const Kind kinds[] = {
      {&file, [&] { return ReadFileBytes(PathOf("s")); }, RC_INPUT_TRUNCATED},
      {&memory, [&] { return Bytes(memory.Data(), memory.Size()); }, RC_INFO_LAST_INPUT},
  };
  for (const Kind& k : kinds) {
    Stream& s = *k.stream;
    ASSERT_RC(RC_OK, s.WriteAt(8, "tail", 4, nullptr));
    EXPECT_EQ(k.bytes(), std::string(8, '\0') + "tail");
    // Bytes cut off by a smaller size come back as zeros when it grows again.
    ASSERT_RC(RC_OK, s.SetSize(9));
    ASSERT_RC(RC_OK, s.SetSize(12));
    EXPECT_EQ(k.bytes(), std::string(8, '\0') + "t" + std::string(3, '\0'));

    ASSERT_RC(RC_OK, s.WriteAt(0, content.data(), static_cast<std::uint32_t>(content.size()), nullptr));
    const std::uint64_t end = content.size();
    char out[16];
    std::uint32_t done = 77;
    EXPECT_RC(RC_INFO_LAST_INPUT, s.ReadAt(end - 4, out, 10, &done));
    EXPECT_EQ(Bytes(out, done), content.substr(end - 4));
    EXPECT_RC(k.readAtEnd, s.ReadAt(end, out, 1, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_RC(RC_INPUT_TRUNCATED, s.ReadAt(end + 1, out, 1, &done));

    ASSERT_RC(RC_OK, s.Seek(-2, 2));
    // Sequential reads move the position by what arrived.
    EXPECT_RC(RC_INFO_LAST_INPUT, s.Read(out, 3, &done));
    EXPECT_EQ(Bytes(out, done), content.substr(end - 2));
    EXPECT_RC(RC_INPUT_TRUNCATED, s.Read(out, 3, nullptr));
    EXPECT_EQ(s.GetPosition(), end);

    // An offset inside a page: the view still starts exactly there. A file
    // does not shrink under a live view, whose pages would fault.
    std::unique_ptr<StreamView> view;
    ASSERT_RC(RC_OK, s.MapView(2 * page + 3, 0, true, &view));
    ASSERT_EQ(view->Length(), end - (2 * page + 3));
    std::memcpy(view->Data(), "WRITTEN", 7);
    view->Data()[view->Length() - 1] = '!';
    if (k.stream == &file) {
      EXPECT_RC(RC_INVALID_OPERATION, file.SetSize(10));
    }
  }
  content.replace(2 * page + 3, 7, "WRITTEN");
  content.back() = '!';
  ASSERT_RC(RC_OK, fileReader.Open(WidePath("s"), kOpenExisting, kAccessRead, kShareRead, 0));
  MemoryStream memoryReader(const_cast<std::uint8_t*>(memory.Data()), memory.Size(), memory.Size(), true);
  Stream* const readers[] = {&fileReader, &memoryReader};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_RC(RC_ACCESS_DENIED, readers[i]->WriteAt(0, "x", 1, nullptr));
    EXPECT_RC(RC_ACCESS_DENIED, readers[i]->SetSize(1));
    EXPECT_EQ(kinds[i].bytes(), content);
  }
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

// A caller's buffer holds its capacity; an owned one grows through its
// owner, which may refuse.
TEST(MemoryStreamTest, FixedBuffersKeepTheirLimitsAndOwnedOnesGrowThroughTheOwner) {
  std::uint8_t buffer[8];
  std::memset(buffer, 0xAA, sizeof buffer);
  MemoryStream stream(buffer, sizeof buffer, 2, false);
  ASSERT_RC(RC_OK, stream.WriteAt(5, "Q", 1, nullptr));
  EXPECT_EQ(Bytes(buffer + 2, 4), std::string(3, '\0') + "Q");
  EXPECT_RC(RC_OFFSET_BEYOND_END, stream.WriteAt(6, "abc", 3, nullptr));
  EXPECT_EQ(stream.Size(), 6u);
  EXPECT_EQ(buffer[6], 0xAA);

  VectorBuffer owner;
  MemoryStream owned(&owner, 0, false);
  ASSERT_RC(RC_OK, owned.WriteAt(3, "abc", 3, nullptr));
  EXPECT_EQ(Bytes(owner.bytes.data(), owner.bytes.size()), std::string(3, '\0') + "abc");
  EXPECT_RC(RC_OUT_OF_MEMORY, owned.WriteAt(10, "0123456789", 10, nullptr));
  EXPECT_EQ(owned.Size(), 6u);
}

}  // namespace
}  // namespace zun
