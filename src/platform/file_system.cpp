#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <new>
#include <string>

#include "platform/paths.h"

namespace zun {

namespace {

FileTime FromTimestamp(const struct statx_timestamp& stamp) {
  const std::int64_t units =
      static_cast<std::int64_t>(kFileTimeUnixEpoch) + stamp.tv_sec * 10000000ll + stamp.tv_nsec / 100;
  return units > 0 ? static_cast<FileTime>(units) : 0;
}

bool ReadCreationAttribute(const char* path, bool followLinks, FileTime* out) {
  std::uint8_t bytes[8];
  ssize_t n;
  do {
    n = followLinks ? getxattr(path, kCreationTimeAttribute, bytes, sizeof bytes)
                    : lgetxattr(path, kCreationTimeAttribute, bytes, sizeof bytes);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof bytes)) return false;
  FileTime value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  *out = value;
  return true;
}

}  // namespace

ResultCode ReadFileFactsAt(int dirFd, const char* name, const char* fullPath, bool followLinks,
                           FileFacts* out) {
  if (out == nullptr || name == nullptr) return RC_INVALID_PARAMETER;
  struct statx info;
  const int flags = AT_STATX_SYNC_AS_STAT | (followLinks ? 0 : AT_SYMLINK_NOFOLLOW);
  if (statx(dirFd, name, flags, STATX_BASIC_STATS | STATX_BTIME, &info) != 0) return ResultFromErrno(errno);
  out->lastAccessTime = FromTimestamp(info.stx_atime);
  out->lastWriteTime = FromTimestamp(info.stx_mtime);
  out->changeTime = FromTimestamp(info.stx_ctime);
  if (fullPath == nullptr || !ReadCreationAttribute(fullPath, followLinks, &out->creationTime)) {
    out->creationTime = (info.stx_mask & STATX_BTIME) != 0 ? FromTimestamp(info.stx_btime) : out->changeTime;
  }
  out->size = info.stx_size;
  out->allocatedSize = info.stx_blocks * 512ull;
  out->mode = info.stx_mode;
  return RC_OK;
}

ResultCode ReadFileFacts(WStringView path, bool followLinks, FileFacts* out) {
  std::string native;
  if (const ResultCode rc = ToNativePath(path, &native); Failed(rc)) return rc;
  return ReadFileFactsAt(AT_FDCWD, native.c_str(), native.c_str(), followLinks, out);
}

ResultCode WriteCreationTime(WStringView path, FileTime time) {
  std::string native;
  if (const ResultCode rc = ToNativePath(path, &native); Failed(rc)) return rc;
  std::uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(time >> (8 * i));
  if (setxattr(native.c_str(), kCreationTimeAttribute, bytes, sizeof bytes, 0) != 0)
    return ResultFromErrno(errno);
  return RC_OK;
}

}  // namespace zun
