#pragma once
// An open log file: lines in UTF-8 after the mark EF BB BF, or continued in
// UTF-16LE when the file already starts with FF FE; CR LF after every line;
// every line one append at the end of the file, so any number of writers in
// any number of processes can share the file without losing or splitting a
// line.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
  LogFile() noexcept = default;
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Closes a file that is open, then opens `path` and decides the encoding
  // from its first bytes: FF FE gives UTF-16LE, anything else UTF-8. A file
  // that does not exist yet appears with the mark EF BB BF already in it; a
  // file that exists is never rewritten, with or without a mark, so lines
  // that other writers append at the same moment stay whole. Pipes,
  // terminals and devices take the lines alone. A failure (the converted
  // errno) leaves the file closed.
  ResultCode Open(WStringView path) noexcept;
  // False once the path names another file or none (moved, removed or
  // replaced by another program); true while closed.
  bool StillAtPath() const noexcept;

  // Appends `text` and CR LF as one write at the end of the file. Lone
  // surrogates are written as U+FFFD in UTF-8 files and as they are in
  // UTF-16 files. A zero inside `text` is written as backslash and "0", and
  // a CR directly before a LF is left out, so a line holds no zero and ends
  // at its own CR LF only.
  //
  // When the file system takes only part of the line (out of room, the
  // process's file size limit), the part that landed is overwritten in place
  // with blanks ending in CR LF, where the file system allows the overwrite,
  // so the file holds a blank line rather than a piece of a record; then the
  // line is tried once more. If that fails too, the code of the failure is
  // returned and the line is lost. At the size limit the line is not tried
  // again and EFBIG's code is returned: while a limit is set, no write of
  // the file raises SIGXFSZ in the host. In a UTF-16 file a part of odd
  // length cannot be blanked without shifting later lines, so it is left as
  // it landed.
  ResultCode Write(WStringView text) noexcept;

  // Encodes `text` and CR LF after the lines kept so far, for WriteKept.
  ResultCode Keep(WStringView text) noexcept;
  // Appends the kept lines in one write and forgets them. When the file
  // system takes only part, that part is blanked as Write does, then each
  // line is written alone the way Write writes it; the first failure is
  // returned.
  ResultCode WriteKept() noexcept;
  bool HasKept() const noexcept { return !kept_.empty(); }
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

  bool IsOpen() const noexcept { return handle_.fd >= 0; }
  EncodingMode Encoding() const noexcept { return encoding_; }

 private:
  ResultCode EncodeLine(WStringView text, std::string& out) const noexcept;
  ResultCode AppendWithRetry(std::string_view bytes) noexcept;
  // One append write; a part that landed short is blanked (*shortWrite set).
  ResultCode AppendOnce(std::string_view bytes, bool* shortWrite) noexcept;
  // Overwrites the last `length` bytes before `end`, which this write put
  // there, with a blank line.
  void BlankFragment(std::size_t length, std::uint64_t end) noexcept;

  LogFileHandle handle_;
  EncodingMode encoding_ = EncodingMode::kUndecided;
  std::uint64_t sizeLimit_ = kNoFileSizeLimit;  // RLIMIT_FSIZE as last read
  std::string bytes_;                           // the encoded line, reused from write to write
  std::string blank_;
  std::string kept_;                   // lines for WriteKept
  std::vector<std::size_t> keptEnds_;  // where each kept line ends
};

}  // namespace zun
