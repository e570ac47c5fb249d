#pragma once
// The system calls behind an open log file, made through the file-call table
// (platform/file_calls.h), so a test can make any of them fail the way a real
// system can.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

// Every function returns the converted errno on failure and retries EINTR
// itself. Safe on any thread; the descriptor belongs to the caller.

// Who a file is, whatever its names.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// An open log file and what opening it found.
struct LogFileHandle {
  int fd = -1;
  // A regular file; a pipe, terminal or device only takes lines (no mark,
  // nothing written in place).
  bool regular = false;
  FileIdentity identity;
  // The first bytes of a regular file, as many as it had (up to 2).
  unsigned char head[2] = {0, 0};
  std::size_t headLength = 0;
  std::string nativePath;  // the name it was opened under
};

// Opens `path` for reading and appending: every write lands at the end of the
// file in one piece, whoever else appends to it. Close-on-exec, descriptor 3
// or above. When no file has the name, a regular file holding just
// `newFileMark` is made under a temporary name in the same folder
// ("zun-<pid>-<n>.tmp") and linked into place, so that no writer ever finds
// it without its mark; when another process links its file first, that file
// is opened instead. A file that exists is never written here. A folder of
// that name gives RC_ACCESS_DENIED. On failure `out` holds no descriptor.
ResultCode OpenLogFile(WStringView path, std::string_view newFileMark, LogFileHandle* out) noexcept;
// False when the name the file was opened under now names another file or
// none (moved, removed, replaced); true while it names this file, and when
// the name cannot be looked at.
bool LogFileStillAtPath(const LogFileHandle& handle) noexcept;

// A second open file description of the same open file, in append mode,
// with an offset of its own: what one writer does to it (an append that
// lands short, a switch out of append mode) does not touch writers using the
// others. Needs /proc; RC_NOT_AVAILABLE when it leads elsewhere.
ResultCode OpenLogFileAgain(const LogFileHandle& handle, int* out) noexcept;

// Writes all of `length` bytes at `offset`. The descriptor must not be in
// append mode (Linux would ignore the offset).
ResultCode WriteLogFileAt(int fd, std::uint64_t offset, const void* buffer, std::size_t length) noexcept;
// Switches append mode of the open file description on or off.
ResultCode SetLogFileAppendMode(int fd, bool append) noexcept;
// One write(2): in append mode it lands at the current end of the file, in
// one piece with respect to every other appender of the file. `*written` may
// be less than `length` when the file system ran out of room part way, or
// the write reached the file size limit; a failure before any byte was
// written returns the errno's code. With `sizeLimited`, a write that starts
// at the limit gives EFBIG's code and never raises SIGXFSZ in the host.
ResultCode AppendToLogFile(int fd, const void* buffer, std::size_t length, std::size_t* written,
                           bool sizeLimited = false) noexcept;
// The process's file size limit (RLIMIT_FSIZE) in bytes; kNoFileSizeLimit
// when there is none.
inline constexpr std::uint64_t kNoFileSizeLimit = ~std::uint64_t{0};
std::uint64_t FileSizeLimit() noexcept;
// The file offset of the description (after an append: the end of that
// write).
ResultCode LogFileOffset(int fd, std::uint64_t* offset) noexcept;
// The size of the open file as the file system has it now.
ResultCode LogFileSize(int fd, std::uint64_t* size) noexcept;
ResultCode SetLogFileSize(int fd, std::uint64_t size) noexcept;
// Forces written data (and the size that covers it) to the device.
ResultCode SyncLogFile(int fd) noexcept;
// Releases the descriptor. Linux releases it even when close reports an
// error, so the caller must not use or close it again either way.
ResultCode CloseLogFile(int fd) noexcept;

}  // namespace zun
