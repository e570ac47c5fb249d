#pragma once
// The companion ".lock" file of a log that several processes share: an
// exclusive lock that orders rolls among them, and a small block of the file
// mapped into every process that opens it, for counters they all see.
#include <cstddef>
#include <cstdint>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

// Not synchronised: its owner's lock guards it. The lock is an open file
// description lock, so it belongs to this object: two objects on one file
// exclude each other even inside one process, and the kernel drops the lock
// when the object's process dies, however it dies.
class FileLock {
 public:
  // Bytes at the start of the file that Shared() maps.
  static constexpr std::size_t kSharedBytes = 4096;

  FileLock() = default;
  ~FileLock() { Close(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens or creates `path` (mode 0666 less the umask), grows it to
  // kSharedBytes when it is shorter (never shrinks it, so processes that
  // create it at once agree) and maps those bytes shared. A file that cannot
  // be mapped still opens: Shared() is null then. The converted errno when
  // the file cannot be opened.
  ResultCode Open(WStringView path) noexcept;

  // Takes the exclusive lock on the whole file without waiting.
  // RC_WARN_TIMEOUT when another holder has it; RC_NOT_SUPPORTED where the
  // file system has no such locks; RC_INVALID_HANDLE when closed.
  ResultCode TryLock() noexcept;
  ResultCode Unlock() noexcept;
  // Unmaps, releases the lock and closes the file.
  void Close() noexcept;

  bool IsOpen() const noexcept { return fd_ >= 0; }
  bool IsLocked() const noexcept { return locked_; }
  // The first kSharedBytes of the file, zero in a new file, page aligned;
  // every process that maps the file sees the same bytes. Null when closed
  // or not mapped.
  void* Shared() const noexcept { return shared_; }

 private:
  ResultCode SetLock(short type) noexcept;

  int fd_ = -1;
  bool locked_ = false;
  void* shared_ = nullptr;
};

}  // namespace zun
