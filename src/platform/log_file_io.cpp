#include "platform/log_file_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>
#include <optional>
#include <string>

#include "platform/file_calls.h"
#include "platform/paths.h"
#include "platform/thread_signal_block.h"

namespace zun {

namespace {

// How often an open looks again when the name keeps appearing and vanishing
// (another process links its new file first, then someone removes it).
constexpr int kOpenAttempts = 4;
constexpr int kTemporaryNameAttempts = 16;
constexpr int kOpenFlags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY;

std::atomic<std::uint32_t> gTemporaryNumber{0};

ResultCode WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = Files().write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return ResultFromErrno(errno);
    }
    if (n == 0) return RC_WRITE_FAULT;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return RC_OK;
}

// Without hard links (FAT, some network and user-space file systems) the
// file is made under its own name and the mark follows: a writer that
// appends in between puts its line first, and no line is written over
// either way.
bool LinksUnsupported(int error) { return error == EPERM || error == EOPNOTSUPP || error == ENOSYS; }

ResultCode CreateInPlace(const std::string& native, std::string_view mark, int* fd) {
  const int made = OpenDescriptor(native.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0666);
  if (made < 0) return errno == EEXIST ? RC_OK : ResultFromErrno(errno);
  const ResultCode rc = WriteAll(made, mark);
  if (Failed(rc)) {
    Files().close(made);
    return rc;
  }
  *fd = made;
  return RC_OK;
}

// Makes the file `native` holding `mark`: the mark goes into a new file
// under a temporary name, which is then linked to `native`. `*fd` stays -1
// when another file has the name by now.
ResultCode CreateWithMark(const std::string& native, std::string_view mark, int* fd) {
  *fd = -1;
  const std::size_t slash = native.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : native.substr(0, slash + 1);
  std::string temporary;
  int made = -1;
  for (int attempt = 0; attempt < kTemporaryNameAttempts && made < 0; ++attempt) {
    temporary = folder + "zun-" + std::to_string(getpid()) + "-" +
                std::to_string(gTemporaryNumber.fetch_add(1, std::memory_order_relaxed)) + ".tmp";
    made = OpenDescriptor(temporary.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0666);
    if (made < 0 && errno != EEXIST) return ResultFromErrno(errno);
  }
  if (made < 0) return ResultFromErrno(EEXIST);

  const ResultCode rc = WriteAll(made, mark);
  const int linkError = Succeeded(rc) && Files().link(temporary.c_str(), native.c_str()) != 0 ? errno : 0;
  Files().unlink(temporary.c_str());
  if (Succeeded(rc) && linkError == 0) {
    *fd = made;
    return RC_OK;
  }
  Files().close(made);
  if (Failed(rc) || linkError == EEXIST) return rc;
  if (LinksUnsupported(linkError)) return CreateInPlace(native, mark, fd);
  return ResultFromErrno(linkError);
}

FileIdentity IdentityOf(const struct stat& st) {
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// The kind, identity and first bytes of the open file.
ResultCode Describe(int fd, LogFileHandle* out) {
  struct stat st {};
  if (Files().fstat(fd, &st) != 0) return ResultFromErrno(errno);
  out->regular = S_ISREG(st.st_mode);
  out->identity = IdentityOf(st);
  out->headLength = 0;
  if (!out->regular || st.st_size == 0) return RC_OK;
  ssize_t n;
  do {
    n = Files().pread(fd, out->head, sizeof out->head, 0);
  } while (n < 0 && errno == EINTR);
  // A failed read leaves the file to be taken as UTF-8.
  if (n > 0) out->headLength = static_cast<std::size_t>(n);
  return RC_OK;
}

}  // namespace

ResultCode OpenLogFile(WStringView path, std::string_view newFileMark, LogFileHandle* out) noexcept {
  out->fd = -1;
  try {
    if (const ResultCode rc = ToNativePath(path, &out->nativePath); Failed(rc)) return rc;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
      int fd = OpenDescriptor(out->nativePath.c_str(), kOpenFlags);
      if (fd < 0) {
        if (errno != ENOENT) return ResultFromErrno(errno);
        const ResultCode rc = CreateWithMark(out->nativePath, newFileMark, &fd);
        if (Failed(rc)) return rc;
        if (fd < 0) continue;
      }
      if (const ResultCode rc = Describe(fd, out); Failed(rc)) {
        Files().close(fd);
        return rc;
      }
      out->fd = fd;
      return RC_OK;
    }
    return ResultFromErrno(ENOENT);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

bool LogFileStillAtPath(const LogFileHandle& handle) noexcept {
  struct stat st {};
  if (Files().stat(handle.nativePath.c_str(), &st) != 0) return errno != ENOENT && errno != ENOTDIR;
  return IdentityOf(st) == handle.identity;
}

ResultCode OpenLogFileAgain(const LogFileHandle& handle, int* out) noexcept {
  // The link in /proc leads to the open file itself, whatever its name is now
  // (even when it has none left).
  const std::string link = "/proc/self/fd/" + std::to_string(handle.fd);
  const int fd = OpenDescriptor(link.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return ResultFromErrno(errno);
  struct stat st {};
  if (Files().fstat(fd, &st) != 0 || IdentityOf(st) != handle.identity) {
    CloseLogFile(fd);
    return RC_NOT_AVAILABLE;
  }
  *out = fd;
  return RC_OK;
}

ResultCode WriteLogFileAt(int fd, std::uint64_t offset, const void* buffer, std::size_t length) noexcept {
  std::size_t total = 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (total < length) {
    const ssize_t n = Files().pwrite(fd, bytes + total, length - total, static_cast<off_t>(offset + total));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ResultFromErrno(errno);
    }
    if (n == 0) return RC_WRITE_FAULT;
    total += static_cast<std::size_t>(n);
  }
  return RC_OK;
}

ResultCode SetLogFileAppendMode(int fd, bool append) noexcept {
  const int flags = Files().fcntl(fd, F_GETFL, 0);
  if (flags < 0) return ResultFromErrno(errno);
  const int wanted = append ? (flags | O_APPEND) : (flags & ~O_APPEND);
  if (wanted != flags && Files().fcntl(fd, F_SETFL, wanted) != 0) return ResultFromErrno(errno);
  return RC_OK;
}

ResultCode AppendToLogFile(int fd, const void* buffer, std::size_t length, std::size_t* written,
                           bool sizeLimited) noexcept {
  std::optional<ThreadSignalBlock> sizeSignal;
  if (sizeLimited) sizeSignal.emplace(SIGXFSZ);
  for (;;) {
    const ssize_t n = Files().write(fd, buffer, length);
    if (n >= 0) {
      *written = static_cast<std::size_t>(n);
      return (n == 0 && length != 0) ? RC_WRITE_FAULT : RC_OK;
    }
    if (errno != EINTR) {
      const int error = errno;
      if (error == EFBIG && sizeSignal) sizeSignal->NoteRaised();
      *written = 0;
      return ResultFromErrno(error);
    }
  }
}

std::uint64_t FileSizeLimit() noexcept {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kNoFileSizeLimit;
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

ResultCode LogFileOffset(int fd, std::uint64_t* offset) noexcept {
  const off_t at = Files().lseek(fd, 0, SEEK_CUR);
  if (at < 0) return ResultFromErrno(errno);
  *offset = static_cast<std::uint64_t>(at);
  return RC_OK;
}

ResultCode LogFileSize(int fd, std::uint64_t* size) noexcept {
  struct stat st {};
  if (Files().fstat(fd, &st) != 0) return ResultFromErrno(errno);
  *size = static_cast<std::uint64_t>(st.st_size);
  return RC_OK;
}

ResultCode SetLogFileSize(int fd, std::uint64_t size) noexcept {
  while (Files().ftruncate(fd, static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) return ResultFromErrno(errno);
  }
  return RC_OK;
}

ResultCode SyncLogFile(int fd) noexcept {
  while (Files().fdatasync(fd) != 0) {
    if (errno != EINTR) return ResultFromErrno(errno);
  }
  return RC_OK;
}

ResultCode CloseLogFile(int fd) noexcept {
  // No retry on EINTR: the descriptor is gone already and its number may
  // have been reused by another thread.
  if (Files().close(fd) != 0 && errno != EINTR) return ResultFromErrno(errno);
  return RC_OK;
}

}  // namespace zun
