#pragma once
// An open log file: lines in UTF-8 after the mark EF BB BF, or continued in
// UTF-16LE when the file already starts with FF FE; CR LF after every line;
// every line one append at the end of the file, so any number of writers in
// any number of processes can share the file without losing or splitting a
// line.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"
#include "platform/log_file_io.h"

namespace zun {

class LogFile;

// A line that LogFile::Write left to be written after the appender's lock is
// released, with the description it holds for the write.
struct DeferredLine {
  static constexpr std::size_t kCapacity = 1024;
  LogFile* file = nullptr;  // null: nothing left
  int fd = -1;
  std::uint32_t slot = 0;
  std::size_t size = 0;
  char bytes[kCapacity];
};

enum class EncodingMode : std::uint8_t {
  kUndecided = 0,  // closed
  kUtf8 = 1,
  kUtf16Le = 2,
};

// Not synchronised: its appender's lock guards it, except for WriteDeferred.
// Closes the file when destroyed (nothing more is written then).
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
  //
  // With a `line` given, a line that may go out after the lock is released
  // is left in it, with a description of the file held for it, instead of
  // being written; RC_OK then says only that it was encoded. It is written
  // here after all in a file that is not a regular file, in UTF-16 or under
  // a file size limit, when longer than DeferredLine::kCapacity, and while
  // every description is in use.
  ResultCode Write(WStringView text, DeferredLine* line = nullptr) noexcept;
  // Without the lock, once for each line Write left: appends it as Write
  // would, through the description held for it, which only this write uses,
  // so a part that lands short is blanked at the place it landed while other
  // threads go on writing; then lets the description go. Close and Truncate
  // wait for these writes to end.
  static ResultCode WriteDeferred(DeferredLine& line) noexcept;
  // Under the lock: waits until every line Write left is written.
  void WaitForDeferredLines() noexcept;

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
  // Descriptions for deferred lines, besides the one Write uses.
  static constexpr std::uint32_t kWriteSlots = 4;

  // For Write: leaves the encoded line in `line` when it may go out after
  // the lock is released; false, and nothing held, otherwise.
  bool Defer(DeferredLine* line) noexcept;

  ResultCode EncodeLine(WStringView text, std::string& out) const noexcept;
  // Appends through `fd`, and once more when the first append landed short.
  // `*limit` is the file size limit as last read (read again on the way).
  // *lost: the description could not be put back in append mode after a
  // blanking and must not be written to again.
  ResultCode AppendWithRetry(int fd, std::string_view bytes, std::atomic<std::uint64_t>* limit,
                             bool* lost) noexcept;
  // One append write; a part that landed short is blanked (*shortWrite set).
  ResultCode AppendOnce(int fd, std::string_view bytes, std::atomic<std::uint64_t>* limit, bool* shortWrite,
                        bool* lost) noexcept;
  // Overwrites the last `length` bytes before `end`, which this write put
  // there through `fd`, with a blank line. False when `fd` could not be put
  // back in append mode.
  bool BlankFragment(int fd, std::size_t length, std::uint64_t end) const noexcept;
  // Waits for every deferred write to end, then closes the descriptions.
  void CloseWriteSlots() noexcept;

  LogFileHandle handle_;
  EncodingMode encoding_ = EncodingMode::kUndecided;
  // RLIMIT_FSIZE as last read; deferred writes that meet it store it too.
  std::atomic<std::uint64_t> sizeLimit_{kNoFileSizeLimit};
  std::string bytes_;  // the encoded line, reused from write to write
  // Deferred writes: the descriptions opened so far, which of them a write
  // holds (cleared by the writer, without the lock) and which were lost.
  // Holds taken in another process (before a fork) are not waited for.
  int slotFds_[kWriteSlots] = {-1, -1, -1, -1};
  std::uint32_t slotCount_ = 0;
  bool slotsUnavailable_ = false;  // no second description can be opened
  std::atomic<std::uint32_t> slotsInUse_{0};
  std::atomic<std::uint32_t> slotsLost_{0};
  std::uint32_t slotsProcess_ = 0;
  std::string kept_;                   // lines for WriteKept
  std::vector<std::size_t> keptEnds_;  // where each kept line ends
};

}  // namespace zun
