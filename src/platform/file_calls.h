#pragma once
// The system calls under the platform layer's file operations, as one table
// of functions. The real calls sit in it unless a test puts in its own: a
// replacement can fail any call the way a real system does (EIO from close,
// a short write, ENOSPC, a name that another process takes first) and then
// check that nothing was lost or damaged. Slots are only ever appended.
#include <sys/stat.h>
#include <sys/types.h>

namespace zun {

struct FileCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  // Linux releases the descriptor even when close reports an error.
  int (*close)(int fd);
  ssize_t (*write)(int fd, const void* buffer, size_t length);
  ssize_t (*pwrite)(int fd, const void* buffer, size_t length, off_t offset);
  ssize_t (*pread)(int fd, void* buffer, size_t length, off_t offset);
  int (*fstat)(int fd, struct stat* out);
  // Follows a final link.
  int (*stat)(const char* path, struct stat* out);
  // Commands whose argument is an int: F_GETFL, F_SETFL, F_DUPFD_CLOEXEC.
  int (*fcntl)(int fd, int command, int argument);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*ftruncate)(int fd, off_t length);
  int (*fdatasync)(int fd);
  int (*mkdir)(const char* path, mode_t mode);
  int (*rmdir)(const char* path);
  int (*link)(const char* existing, const char* created);
  int (*unlink)(const char* path);
  int (*chmod)(const char* path, mode_t mode);
  // Gives `from` the name `to` unless `to` exists (EEXIST then):
  // renameat2(RENAME_NOREPLACE).
  int (*renameNoReplace)(const char* from, const char* to);
};

// The table in use. Every platform service that touches files calls through
// it, so a test sees each call.
const FileCalls& Files() noexcept;
// The real system calls, for a replacement that passes calls on.
const FileCalls& RealFileCalls() noexcept;
// Puts `calls` in use for the whole process; null brings back the real
// calls. The table is not copied and must stay alive while in use. Replace
// it only while no other thread is inside a file operation.
void SetFileCalls(const FileCalls* calls) noexcept;

// open(2) through the table, retried on EINTR, with a descriptor of 3 or
// above: a host that closed its standard streams must not find a log file
// behind descriptor 1 or 2. -1 with errno on failure.
int OpenDescriptor(const char* path, int flags, mode_t mode = 0) noexcept;

}  // namespace zun
