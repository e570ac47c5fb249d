#include "appenders/log_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace zun {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

class LogFileTest : public test::TempDirTest {};

TEST_F(LogFileTest, NewFileGetsTheMarkAndUtf8LinesWithCrLf) {
  LogFile file;
  ASSERT_RC(RC_OK, file.Open(WidePath("new.log")));
  EXPECT_EQ(EncodingMode::kUtf8, file.Encoding());
  ASSERT_RC(RC_OK, file.Write(u"caf\u00e9 \u20ac \U0001F600"));
  ASSERT_RC(RC_OK, file.Write(u""));
  // A lone surrogate cannot be UTF-8: it becomes U+FFFD, the line survives.
  ASSERT_RC(RC_OK, file.Write(WString(u"a") + char16_t(0xD800) + u"b"));
  ASSERT_RC(RC_OK, file.Flush());
  ASSERT_RC(RC_OK, file.Close());
  EXPECT_EQ(EncodingMode::kUndecided, file.Encoding());
  EXPECT_EQ(
      "\xEF\xBB\xBF"
      "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\r\n"
      "\r\n"
      "a\xEF\xBF\xBD"
      "b\r\n",
      ReadFileBytes(PathOf("new.log")));

  // Reopened: the mark is recognised, not written again, lines go at the end.
  ASSERT_RC(RC_OK, file.Open(WidePath("new.log")));
  ASSERT_RC(RC_OK, file.Write(u"more"));
  file.Close();
  const std::string bytes = ReadFileBytes(PathOf("new.log"));
  EXPECT_EQ(0u, bytes.find("\xEF\xBB\xBF"));
  EXPECT_EQ(std::string::npos, bytes.find("\xEF\xBB\xBF", 1));
  EXPECT_TRUE(bytes.ends_with("b\r\nmore\r\n"));
}

TEST_F(LogFileTest, NewFileIsCreatedWithReadWriteForAllLessTheUmask) {
  const mode_t old = umask(027);
  LogFile file;
  const ResultCode rc = file.Open(WidePath("mode.log"));
  umask(old);
  ASSERT_RC(RC_OK, rc);
  struct stat st {};
  ASSERT_EQ(0, stat(PathOf("mode.log").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777);
}

TEST_F(LogFileTest, Utf16FileIsContinuedInUtf16AndKeepsItsMark) {
  const std::string existing(
      "\xFF\xFE"
      "o\0l\0d\0\r\0\n\0",
      12);
  WriteFileBytes(PathOf("wide.log"), existing);
  LogFile file;
  ASSERT_RC(RC_OK, file.Open(WidePath("wide.log")));
  EXPECT_EQ(EncodingMode::kUtf16Le, file.Encoding());
  ASSERT_RC(RC_OK, file.Write(u"\u20ac\U0001F600"));
  file.Close();
  EXPECT_EQ(existing + std::string("\xAC\x20\x3D\xD8\x00\xDE\r\0\n\0", 10),
            ReadFileBytes(PathOf("wide.log")));
}

TEST_F(LogFileTest, ExistingContentIsNeverOverwritten) {
  // Anything but FF FE at the start is continued as UTF-8, as it stands.
  for (const std::string& existing : {std::string("x"), std::string("plain text\r\n"),
                                      std::string("\xEF\xBB"
                                                  "broken mark"),
                                      std::string("\xFF")}) {
    WriteFileBytes(PathOf("old.log"), existing);
    LogFile file;
    ASSERT_RC(RC_OK, file.Open(WidePath("old.log")));
    EXPECT_EQ(EncodingMode::kUtf8, file.Encoding());
    ASSERT_RC(RC_OK, file.Write(u"new"));
    file.Close();
    EXPECT_EQ(existing + "new\r\n", ReadFileBytes(PathOf("old.log")));
  }
  // An empty file that exists already is treated like a new one.
  WriteFileBytes(PathOf("empty.log"), "");
  LogFile file;
  ASSERT_RC(RC_OK, file.Open(WidePath("empty.log")));
  ASSERT_RC(RC_OK, file.Write(u"first"));
  file.Close();
  EXPECT_EQ(
      "\xEF\xBB\xBF"
      "first\r\n",
      ReadFileBytes(PathOf("empty.log")));
}

TEST_F(LogFileTest, FolderInPlaceOfTheFileFailsWithTheConvertedCode) {
  std::filesystem::create_directory(PathOf("dir.log"));
  LogFile file;
  EXPECT_RC(RC_ACCESS_DENIED, file.Open(WidePath("dir.log")));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_RC(RC_INVALID_HANDLE, file.Write(u"x"));
  EXPECT_RC(RC_FILE_NOT_FOUND, file.Open(WidePath("missing/x.log")));
  EXPECT_TRUE(std::filesystem::is_directory(PathOf("dir.log")));
}

// The real calls, with the next write cut short after `cutAt` bytes as a
// full disk would, and later writes of the same line refused as full.
class ShortWriteIo : public LogFileIo {
 public:
  std::size_t cutAt = 0;
  int shortWrites = 0;    // how many writes to cut
  int refusedWrites = 0;  // then how many to refuse with ENOSPC's code
  ResultCode Write(int fd, const void* buffer, std::size_t length, std::size_t* written) noexcept override {
    if (shortWrites > 0) {
      --shortWrites;
      return LogFileIo::Write(fd, buffer, cutAt, written);
    }
    if (refusedWrites > 0) {
      --refusedWrites;
      *written = 0;
      return RC_DISK_FULL;
    }
    return LogFileIo::Write(fd, buffer, length, written);
  }
};

TEST_F(LogFileTest, PartOfALineThatLandedIsBlankedAndTheLineTriedOnceMore) {
  ShortWriteIo io;
  LogFile file(io);
  ASSERT_RC(RC_OK, file.Open(WidePath("short.log")));
  ASSERT_RC(RC_OK, file.Write(u"before"));

  // Cut, then the retry fails: the record is lost, a blank line stands in.
  io.cutAt = 5;
  io.shortWrites = 1;
  io.refusedWrites = 1;
  EXPECT_RC(RC_DISK_FULL, file.Write(u"lost record"));
  // Cut, then the retry finds room: the whole line follows the blank.
  io.cutAt = 1;
  io.shortWrites = 1;
  EXPECT_RC(RC_OK, file.Write(u"kept"));
  // Cut twice: both pieces blanked, the code says the disk is full.
  io.cutAt = 3;
  io.shortWrites = 2;
  EXPECT_RC(RC_DISK_FULL, file.Write(u"twice"));
  ASSERT_RC(RC_OK, file.Write(u"after"));
  file.Close();
  EXPECT_EQ(
      "\xEF\xBB\xBF"
      "before\r\n"
      "   \r\n"
      "\n"
      "kept\r\n"
      " \r\n"
      " \r\n"
      "after\r\n",
      ReadFileBytes(PathOf("short.log")));
}

TEST_F(LogFileTest, PartOfAUtf16LineIsBlankedInWholeUnits) {
  WriteFileBytes(PathOf("wide.log"), std::string("\xFF\xFE", 2));
  ShortWriteIo io;
  LogFile file(io);
  ASSERT_RC(RC_OK, file.Open(WidePath("wide.log")));
  io.cutAt = 6;
  io.shortWrites = 1;
  EXPECT_RC(RC_OK, file.Write(u"xyz"));
  file.Close();
  EXPECT_EQ(std::string("\xFF\xFE \0\r\0\n\0x\0y\0z\0\r\0\n\0", 18), ReadFileBytes(PathOf("wide.log")));
}

}  // namespace
}  // namespace zun
