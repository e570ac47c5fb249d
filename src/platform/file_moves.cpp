#include "platform/file_moves.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_calls.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace zun {

namespace {

bool WriteAll(int fd, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t n = Files().write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// Closes `fd` keeping errno; returns `result`.
int CloseKeepingError(int fd, int result) {
  const int error = errno;
  Files().close(fd);
  errno = error;
  return result;
}

// Copies the content and the creation time of `in` into `out`.
bool CopyFile(int in, int out) {
  for (;;) {
    const ssize_t n = copy_file_range(in, nullptr, out, nullptr, 1 << 20, 0);
    if (n == 0) break;
    if (n > 0 || errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    char buffer[65536];
    for (;;) {
      const ssize_t got = Files().read(in, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return false;
      if (got == 0) break;
      if (!WriteAll(out, buffer, static_cast<std::size_t>(got))) return false;
    }
    break;
  }
  char created[8];
  if (fgetxattr(in, kCreationTimeAttribute, created, sizeof created) == sizeof created) {
    fsetxattr(out, kCreationTimeAttribute, created, sizeof created, 0);
  }
  return true;
}

// Fails with errno set; never replaces `to`.
int CopyThenDelete(const char* from, const char* to) {
  const int in = OpenDescriptor(from, O_RDONLY | O_CLOEXEC);
  if (in < 0) return -1;
  struct stat info {};
  if (Files().fstat(in, &info) != 0) return CloseKeepingError(in, -1);
  const int out = OpenDescriptor(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777);
  if (out < 0) return CloseKeepingError(in, -1);
  const bool copied = CopyFile(in, out);
  int error = errno;
  Files().close(in);
  if (Files().close(out) != 0 && copied) error = errno;
  if (copied && Files().unlink(from) == 0) return 0;
  if (copied) error = errno;
  Files().unlink(to);
  errno = error;
  return -1;
}

// Where a hard link is refused too: an exclusively created placeholder
// reserves the name, and the rename replaces only that placeholder.
int ReplacePlaceholder(const char* from, const char* to) {
  struct stat info {};
  if (Files().stat(from, &info) != 0) return -1;
  const int placeholder = OpenDescriptor(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (placeholder < 0) return -1;
  Files().close(placeholder);
  if (Files().rename(from, to) == 0) return 0;
  const int error = errno;
  Files().unlink(to);
  errno = error;
  return -1;
}

int LinkThenUnlink(const char* from, const char* to) {
  if (Files().link(from, to) != 0) {
    if (errno == EXDEV) return CopyThenDelete(from, to);
    if (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) return ReplacePlaceholder(from, to);
    return -1;
  }
  if (Files().unlink(from) == 0) return 0;
  const int error = errno;
  Files().unlink(to);
  errno = error;
  return -1;
}

}  // namespace

ResultCode MoveFileNoReplace(WStringView from, WStringView to) noexcept {
  std::string source, target;
  if (const ResultCode rc = ToNativePath(from, &source); Failed(rc)) return rc;
  if (const ResultCode rc = ToNativePath(to, &target); Failed(rc)) return rc;
  int rc;
  do {
    rc = Files().renameNoReplace(source.c_str(), target.c_str());
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (errno == EXDEV) {
      rc = CopyThenDelete(source.c_str(), target.c_str());
    } else if (errno == EINVAL || errno == ENOSYS) {
      // The file system does not rename without replacing.
      rc = LinkThenUnlink(source.c_str(), target.c_str());
    }
  }
  return rc == 0 ? RC_OK : ResultFromErrno(errno);
}

ResultCode DeleteFile(WStringView path) noexcept {
  std::string native;
  if (const ResultCode rc = ToNativePath(path, &native); Failed(rc)) return rc;
  return Files().unlink(native.c_str()) == 0 ? RC_OK : ResultFromErrno(errno);
}

ResultCode CreateFileWithContent(WStringView path, std::string_view content, FileTime creationTime) noexcept {
  std::string native;
  if (const ResultCode rc = ToNativePath(path, &native); Failed(rc)) return rc;
  const int fd = OpenDescriptor(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return ResultFromErrno(errno);
  char created[8];
  for (int i = 0; i < 8; ++i) created[i] = static_cast<char>(creationTime >> (8 * i));
  bool ok = WriteAll(fd, content.data(), content.size());
  int error = errno;
  if (ok && fsetxattr(fd, kCreationTimeAttribute, created, sizeof created, 0) != 0 && errno != ENOTSUP) {
    ok = false;
    error = errno;
  }
  if (Files().close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok) return RC_OK;
  Files().unlink(native.c_str());
  return ResultFromErrno(error);
}

}  // namespace zun
