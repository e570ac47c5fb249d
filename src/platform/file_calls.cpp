#include "platform/file_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace zun {

namespace {

int RealOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int RealFcntl(int fd, int command, int argument) { return ::fcntl(fd, command, argument); }
int RealRenameNoReplace(const char* from, const char* to) {
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

int RealFcntlLock(int fd, int command, struct flock* lock) { return ::fcntl(fd, command, lock); }
int RealEventfd(unsigned initial, int flags) { return ::eventfd(initial, flags); }
int RealThreadCreate(pthread_t* thread, void* (*body)(void*), void* context) {
  return ::pthread_create(thread, nullptr, body, context);
}
int RealReserveMemory(size_t) { return 0; }

const FileCalls kRealCalls = {
    RealOpen,
    ::close,
    ::write,
    ::pwrite,
    ::pread,
    ::fstat,
    ::stat,
    RealFcntl,
    ::lseek,
    ::ftruncate,
    ::fdatasync,
    ::mkdir,
    ::rmdir,
    ::link,
    ::unlink,
    ::chmod,
    RealRenameNoReplace,
    ::fsync,
    RealFcntlLock,
    ::mmap,
    ::munmap,
    ::fdopendir,
    ::readdir,
    ::closedir,
    ::inotify_init1,
    ::inotify_add_watch,
    ::read,
    ::rename,
    RealEventfd,
    RealThreadCreate,
    RealReserveMemory,
};

std::atomic<const FileCalls*> gCalls{&kRealCalls};

}  // namespace

const FileCalls& Files() noexcept { return *gCalls.load(std::memory_order_acquire); }

const FileCalls& RealFileCalls() noexcept { return kRealCalls; }

void SetFileCalls(const FileCalls* calls) noexcept {
  gCalls.store(calls != nullptr ? calls : &kRealCalls, std::memory_order_release);
}

int OpenDescriptor(const char* path, int flags, mode_t mode) noexcept {
  const FileCalls& calls = Files();
  int fd;
  do {
    fd = calls.open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int raised = calls.fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int error = errno;
  calls.close(fd);
  errno = error;
  return raised;
}

ResultCode ReserveRecordMemory(size_t bytes) noexcept {
  return Files().reserveMemory(bytes) == 0 ? RC_OK : RC_OUT_OF_MEMORY;
}

}  // namespace zun
