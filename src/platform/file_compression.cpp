#include "platform/file_compression.h"

#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "platform/file_calls.h"
#include "platform/paths.h"

namespace zun {

namespace {

// Closes the descriptor on every path out, keeping errno of the failure.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) {
      const int saved = errno;
      Files().close(fd_);
      errno = saved;
    }
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Opens a regular file; O_NONBLOCK so that a FIFO with a log's name never
// blocks the caller.
ResultCode OpenRegularFile(WStringView path, int access, int* fd) {
  std::string native;
  ResultCode rc = ToNativePath(path, &native);
  if (Failed(rc)) return rc;
  const int opened = OpenDescriptor(native.c_str(), access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (opened < 0) return ResultFromErrno(errno);
  FileDescriptor file(opened);
  struct stat status;
  if (Files().fstat(opened, &status) != 0) return ResultFromErrno(errno);
  if (!S_ISREG(status.st_mode)) return RC_NOT_SUPPORTED;
  *fd = file.Release();
  return 0;
}

ResultCode ReadFlags(int fd, int* flags) {
  if (ioctl(fd, FS_IOC_GETFLAGS, flags) != 0) return ResultFromErrno(errno);
  return 0;
}

// Only btrfs compresses flagged files; ext4, for one, stores the flag and
// ignores it, so elsewhere the flag is never set.
bool HonoursCompressionFlag(int fd) {
  struct statfs fileSystem;
  return fstatfs(fd, &fileSystem) == 0 && fileSystem.f_type == BTRFS_SUPER_MAGIC;
}

// The flag alone only compresses what is written from now on; rolled logs
// are written already, so btrfs is asked to rewrite their extents.
void RecompressExistingContent(int fd) {
  btrfs_ioctl_defrag_range_args range{};
  range.start = 0;
  range.len = ~static_cast<__u64>(0);
  range.flags = BTRFS_DEFRAG_RANGE_COMPRESS;
  // A refusal leaves the file flagged and readable; nothing more to do.
  (void)ioctl(fd, BTRFS_IOC_DEFRAG_RANGE, &range);
}

}  // namespace

ResultCode IsFileCompressed(WStringView path, bool* compressed) {
  int fd = -1;
  ResultCode rc = OpenRegularFile(path, O_RDONLY, &fd);
  if (Failed(rc)) return rc;
  FileDescriptor file(fd);
  int flags = 0;
  rc = ReadFlags(file.Get(), &flags);
  if (Failed(rc)) return rc;
  *compressed = (flags & FS_COMPR_FL) != 0;
  return 0;
}

ResultCode CompressFile(WStringView path) {
  int fd = -1;
  ResultCode rc = OpenRegularFile(path, O_RDWR, &fd);
  if (Failed(rc)) return rc;
  FileDescriptor file(fd);
  int flags = 0;
  rc = ReadFlags(file.Get(), &flags);
  if (Failed(rc)) return rc;
  if ((flags & FS_COMPR_FL) != 0) return 0;
  if (!HonoursCompressionFlag(file.Get())) return RC_NOT_SUPPORTED;
  flags |= FS_COMPR_FL;
  if (ioctl(file.Get(), FS_IOC_SETFLAGS, &flags) != 0) return ResultFromErrno(errno);
  RecompressExistingContent(file.Get());
  return 0;
}

}  // namespace zun
