#pragma once
// An open log file: lines in UTF-8 after the mark EF BB BF, or continued in
// UTF-16LE when the file already starts with FF FE; CR LF after every line;
// every line one append at the end of the file, so any number of writers in
// any number of processes can share the file without losing or splitting a
// line.
#include <cstdint>
#include <string>

#include "base/result_code.h"
#include "base/text.h"
#include "platform/log_file_io.h"

namespace zun {

enum class EncodingMode : std::uint8_t {
  kUndecided = 0,  // closed
  kUtf8 = 1,
  kUtf16Le = 2,
};

// Not synchronised: its appender's lock guards it. Closes the file when
// destroyed (nothing more is written then).
class LogFile {
 public:
  // `io` is not owned and must outlive the file.
  explicit LogFile(LogFileIo& io = SystemLogFileIo()) noexcept : io_(&io) {}
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Closes a file that is open, then opens or creates `path` and decides the
  // encoding from its first bytes: FF FE gives UTF-16LE, anything else UTF-8.
  // An empty file receives the mark of its encoding at offset 0; a file that
  // holds anything is never rewritten, with or without a mark. A failure
  // (the converted errno) leaves the file closed.
  ResultCode Open(WStringView path) noexcept;

  // Appends `text` and CR LF as one write at the end of the file. Lone
  // surrogates are written as U+FFFD in UTF-8 files and as they are in
  // UTF-16 files.
  //
  // When the file system takes only part of the line (out of room, a size
  // limit), the part that landed is overwritten in place with blanks ending
  // in CR LF, where the file system allows the overwrite, so the file holds
  // a blank line rather than a piece of a record; then the line is tried
  // once more. If that fails too, the code of the failure is returned and
  // the line is lost. In a UTF-16 file a part of odd length cannot be
  // blanked without shifting later lines, so it is left as it landed.
  ResultCode Write(WStringView text) noexcept;

  // The size of the open file as the file system has it now.
  ResultCode Size(std::uint64_t* size) noexcept;
  // The bytes the last successful Write appended.
  std::size_t LastWriteBytes() const noexcept { return bytes_.size(); }

  // Forces written lines to the device.
  ResultCode Flush() noexcept;
  // Cuts the file to length 0; the mark is not written again.
  ResultCode Truncate() noexcept;
  // Releases the file; the encoding goes back to undecided. A close error is
  // returned, but the file is released all the same.
  ResultCode Close() noexcept;

  bool IsOpen() const noexcept { return fd_ >= 0; }
  // The open file's descriptor, -1 while closed; for reading its facts only.
  int Descriptor() const noexcept { return fd_; }
  EncodingMode Encoding() const noexcept { return encoding_; }

 private:
  ResultCode AppendOnce(bool* shortWrite) noexcept;
  void BlankFragment(std::size_t length) noexcept;

  LogFileIo* io_;
  int fd_ = -1;
  EncodingMode encoding_ = EncodingMode::kUndecided;
  std::string bytes_;  // the encoded line, reused from write to write
  std::string blank_;
};

}  // namespace zun
