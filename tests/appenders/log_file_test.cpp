#include "appenders/log_file.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace zun {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

class LogFileTest : public test::TempDirTest {};

TEST_F(LogFileTest, ExistingContentIsContinuedInItsEncodingAndNeverDamaged) {
  // FF FE means UTF-16LE; anything else is continued as UTF-8, as it stands;
  // an empty file is treated like a new one.
  const std::string wide("\xFF\xFEo\0l\0d\0\r\0\n\0", 12);
  const std::string line = "\xE2\x82\xAC\xF0\x9F\x98\x80\r\n";
  const std::pair<std::string, std::string> kCases[] = {
      {wide, wide + std::string("\xAC\x20\x3D\xD8\x00\xDE\r\0\n\0", 10)},
      {"plain text\r\n", "plain text\r\n" + line},
      {"\xEF\xBB~broken mark", "\xEF\xBB~broken mark" + line},
      {"\xFF", "\xFF" + line},
      {"", "\xEF\xBB\xBF" + line}};
  for (const auto& [existing, expected] : kCases) {
    WriteFileBytes(PathOf("old.log"), existing);
    LogFile file;
    ASSERT_RC(RC_OK, file.Open(WidePath("old.log")));
    ASSERT_RC(RC_OK, file.Write(u"\u20ac\U0001F600"));
    file.Close();
    EXPECT_EQ(expected, ReadFileBytes(PathOf("old.log")));
  }
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
      "before\r\n   \r\n\nkept\r\n \r\n \r\nafter\r\n",
      ReadFileBytes(PathOf("short.log")));

  // In UTF-16 the blank covers the piece in whole units.
  WriteFileBytes(PathOf("wide.log"), std::string("\xFF\xFE", 2));
  ASSERT_RC(RC_OK, file.Open(WidePath("wide.log")));
  io.cutAt = 6;
  io.shortWrites = 1;
  EXPECT_RC(RC_OK, file.Write(u"xyz"));
  file.Close();
  EXPECT_EQ(std::string("\xFF\xFE \0\r\0\n\0x\0y\0z\0\r\0\n\0", 18), ReadFileBytes(PathOf("wide.log")));
}

}  // namespace
}  // namespace zun
