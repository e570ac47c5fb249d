#include "platform/log_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "base/lasting.h"
#include "platform/paths.h"

namespace zun {

ResultCode LogFileIo::Open(WStringView path, int* fd) noexcept {
  std::string native;
  if (const ResultCode rc = ToNativePath(path, &native); Failed(rc)) return rc;
  for (;;) {
    const int opened = ::open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (opened >= 0) {
      *fd = opened;
      return RC_OK;
    }
    if (errno != EINTR) return ResultFromErrno(errno);
  }
}

ResultCode LogFileIo::ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t length,
                             std::size_t* done) noexcept {
  std::size_t total = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (total < length) {
    const ssize_t n = ::pread(fd, bytes + total, length - total, static_cast<off_t>(offset + total));
    if (n < 0) {
      if (errno == EINTR) continue;
      *done = total;
      return ResultFromErrno(errno);
    }
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
  }
  *done = total;
  return RC_OK;
}

ResultCode LogFileIo::Size(int fd, std::uint64_t* size) noexcept {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return ResultFromErrno(errno);
  *size = static_cast<std::uint64_t>(st.st_size);
  return RC_OK;
}

ResultCode LogFileIo::WriteAt(int fd, std::uint64_t offset, const void* buffer, std::size_t length) noexcept {
  std::size_t total = 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (total < length) {
    const ssize_t n = ::pwrite(fd, bytes + total, length - total, static_cast<off_t>(offset + total));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ResultFromErrno(errno);
    }
    if (n == 0) return RC_WRITE_FAULT;
    total += static_cast<std::size_t>(n);
  }
  return RC_OK;
}

ResultCode LogFileIo::SetAppendMode(int fd, bool append) noexcept {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return ResultFromErrno(errno);
  const int wanted = append ? (flags | O_APPEND) : (flags & ~O_APPEND);
  if (wanted != flags && ::fcntl(fd, F_SETFL, wanted) != 0) return ResultFromErrno(errno);
  return RC_OK;
}

ResultCode LogFileIo::Write(int fd, const void* buffer, std::size_t length, std::size_t* written) noexcept {
  for (;;) {
    const ssize_t n = ::write(fd, buffer, length);
    if (n >= 0) {
      *written = static_cast<std::size_t>(n);
      return (n == 0 && length != 0) ? RC_WRITE_FAULT : RC_OK;
    }
    if (errno != EINTR) {
      *written = 0;
      return ResultFromErrno(errno);
    }
  }
}

ResultCode LogFileIo::Offset(int fd, std::uint64_t* offset) noexcept {
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  if (at < 0) return ResultFromErrno(errno);
  *offset = static_cast<std::uint64_t>(at);
  return RC_OK;
}

ResultCode LogFileIo::SetSize(int fd, std::uint64_t size) noexcept {
  while (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) return ResultFromErrno(errno);
  }
  return RC_OK;
}

ResultCode LogFileIo::SyncData(int fd) noexcept {
  while (::fdatasync(fd) != 0) {
    if (errno != EINTR) return ResultFromErrno(errno);
  }
  return RC_OK;
}

ResultCode LogFileIo::Close(int fd) noexcept {
  // No retry on EINTR: the descriptor is gone already and its number may
  // have been reused by another thread.
  if (::close(fd) != 0 && errno != EINTR) return ResultFromErrno(errno);
  return RC_OK;
}

LogFileIo& SystemLogFileIo() noexcept {
  static Lasting<LogFileIo> io;
  return *io;
}

}  // namespace zun
