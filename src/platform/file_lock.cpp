#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_calls.h"
#include "platform/paths.h"

namespace zun {

ResultCode FileLock::Open(WStringView path) noexcept {
  Close();
  std::string native;
  if (const ResultCode rc = ToNativePath(path, &native); Failed(rc)) return rc;
  // Descriptor 3 or above: code that writes to a standard stream must never
  // reach the shared block.
  const int fd = OpenDescriptor(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return ResultFromErrno(errno);

  struct stat info {};
  if (Files().fstat(fd, &info) != 0) {
    const int error = errno;
    Files().close(fd);
    return ResultFromErrno(error);
  }
  // Growing to the same size twice changes nothing, so two processes that
  // create the file together both end with the same zeroed block.
  bool sized = info.st_size >= static_cast<off_t>(kSharedBytes);
  if (!sized) {
    int rc;
    do {
      rc = Files().ftruncate(fd, static_cast<off_t>(kSharedBytes));
    } while (rc != 0 && errno == EINTR);
    sized = rc == 0;
  }
  if (sized && S_ISREG(info.st_mode)) {
    void* map = Files().mmap(nullptr, kSharedBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED) shared_ = map;
  }
  fd_ = fd;
  return RC_OK;
}

ResultCode FileLock::SetLock(short type) noexcept {
  if (fd_ < 0) return RC_INVALID_HANDLE;
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // the whole file, however long it grows
  while (Files().fcntlLock(fd_, F_OFD_SETLK, &lock) != 0) {
    switch (errno) {
      case EINTR:
        continue;
      case EAGAIN:
      case EACCES:
        return RC_WARN_TIMEOUT;
      case EINVAL:  // a kernel or file system without description locks
      case ENOLCK:
        return RC_NOT_SUPPORTED;
      default:
        return ResultFromErrno(errno);
    }
  }
  return RC_OK;
}

ResultCode FileLock::TryLock() noexcept {
  const ResultCode rc = SetLock(F_WRLCK);
  if (Succeeded(rc)) locked_ = true;
  return rc;
}

ResultCode FileLock::Unlock() noexcept {
  const ResultCode rc = SetLock(F_UNLCK);
  if (Succeeded(rc)) locked_ = false;
  return rc;
}

void FileLock::Close() noexcept {
  if (shared_ != nullptr) Files().munmap(shared_, kSharedBytes);
  shared_ = nullptr;
  // Closing the only descriptor of the description releases its lock.
  if (fd_ >= 0) Files().close(fd_);
  fd_ = -1;
  locked_ = false;
}

}  // namespace zun
