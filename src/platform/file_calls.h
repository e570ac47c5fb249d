#pragma once
// The system calls under the platform layer's file operations, as one table
// of functions. The real calls sit in it unless a test puts in its own: a
// replacement can fail any call the way a real system does (EIO from close,
// a short write, ENOSPC, a name that another process takes first) and then
// check that nothing was lost or damaged. Slots are only ever appended.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "base/result_code.h"

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
  int (*fsync)(int fd);
  // Commands whose argument is a lock: F_OFD_SETLK, F_OFD_SETLKW, F_OFD_GETLK.
  int (*fcntlLock)(int fd, int command, struct flock* lock);
  void* (*mmap)(void* address, size_t length, int protection, int flags, int fd, off_t offset);
  int (*munmap)(void* address, size_t length);
  // Folder listings: takes over `fd` on success.
  DIR* (*fdopendir)(int fd);
  // Null with errno 0 at the end of the listing.
  struct dirent* (*readdir)(DIR* dir);
  int (*closedir)(DIR* dir);
  int (*inotifyInit1)(int flags);
  int (*inotifyAddWatch)(int fd, const char* path, uint32_t mask);
  ssize_t (*read)(int fd, void* buffer, size_t length);
  // Replaces `to` when it exists.
  int (*rename)(const char* from, const char* to);
  int (*eventfd)(unsigned initial, int flags);
  // Returns the error number itself, as pthread_create does.
  int (*threadCreate)(pthread_t* thread, void* (*body)(void*), void* context);
  // Asked before the texts of a record are allocated: 0 when `bytes` more
  // may be taken, else -1 with errno ENOMEM. The real call only says yes;
  // a replacement makes a log call meet an exhausted heap.
  int (*reserveMemory)(size_t bytes);
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

// RC_OUT_OF_MEMORY when the table refuses `bytes` more for a record.
ResultCode ReserveRecordMemory(size_t bytes) noexcept;

}  // namespace zun
