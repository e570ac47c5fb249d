#pragma once
// The system calls behind an open log file, made through the file-call table
// (platform/file_calls.h), so a test can make any of them fail the way a real
// system can.
#include <cstddef>
#include <cstdint>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

// Every function returns the converted errno on failure and retries EINTR
// itself. Safe on any thread; the descriptor belongs to the caller.

// Opens or creates `path` for reading and writing, without append mode,
// close-on-exec; a new file gets mode 0666 less the umask. A folder of that
// name gives RC_ACCESS_DENIED.
ResultCode OpenLogFile(WStringView path, int* fd) noexcept;
// Reads up to `length` bytes at `offset`; `*done` counts what arrived (0 at
// the end of the file).
ResultCode ReadLogFileAt(int fd, std::uint64_t offset, void* buffer, std::size_t length,
                         std::size_t* done) noexcept;
ResultCode LogFileSize(int fd, std::uint64_t* size) noexcept;
// Writes all of `length` bytes at `offset`. The descriptor must not be in
// append mode (Linux would ignore the offset).
ResultCode WriteLogFileAt(int fd, std::uint64_t offset, const void* buffer, std::size_t length) noexcept;
// Switches append mode of the open file description on or off.
ResultCode SetLogFileAppendMode(int fd, bool append) noexcept;
// One write(2): in append mode it lands at the current end of the file, in
// one piece with respect to every other appender of the file. `*written` may
// be less than `length` when the file system ran out of room part way; a
// failure before any byte was written returns the errno's code.
ResultCode AppendToLogFile(int fd, const void* buffer, std::size_t length, std::size_t* written) noexcept;
// The file offset of the description (after an append: the end of that
// write).
ResultCode LogFileOffset(int fd, std::uint64_t* offset) noexcept;
ResultCode SetLogFileSize(int fd, std::uint64_t size) noexcept;
// Forces written data (and the size that covers it) to the device.
ResultCode SyncLogFile(int fd) noexcept;
// Releases the descriptor. Linux releases it even when close reports an
// error, so the caller must not use or close it again either way.
ResultCode CloseLogFile(int fd) noexcept;

}  // namespace zun
