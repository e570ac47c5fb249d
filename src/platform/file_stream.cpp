#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <limits>
#include <new>

#include "platform/file_calls.h"
#include "platform/paths.h"
#include "platform/stream.h"

namespace zun {

namespace {

// How often an open-or-create retries when the name appears or vanishes
// between the exclusive create and the plain open.
constexpr int kCreateRaceRetries = 8;

std::uint64_t PageSize() {
  static const std::uint64_t size = [] {
    const long value = sysconf(_SC_PAGESIZE);
    return value > 0 ? static_cast<std::uint64_t>(value) : 4096u;
  }();
  return size;
}

bool FitsOffset(std::uint64_t offset) { return static_cast<std::int64_t>(offset) >= 0; }

}  // namespace

// A mapping of part of a file. The mapping starts at the offset rounded down
// to the page size; Data() points at the offset asked for.
class FileView : public StreamView {
 public:
  FileView(FileStream* stream, std::uint8_t* base, std::uint64_t mappedLength, std::uint64_t delta,
           std::uint64_t usableLength, bool readOnly)
      : stream_(stream),
        base_(base),
        mappedLength_(mappedLength),
        delta_(delta),
        usableLength_(usableLength),
        readOnly_(readOnly) {
    ++stream_->liveViews_;
  }
  ~FileView() override {
    if (!readOnly_) Flush();
    Files().munmap(base_, static_cast<std::size_t>(mappedLength_));
    --stream_->liveViews_;
  }
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  std::uint8_t* Data() const override { return base_ + delta_; }
  std::uint64_t Length() const override { return usableLength_; }
  bool ReadOnly() const override { return readOnly_; }
  ResultCode Flush() override {
    if (msync(base_, static_cast<std::size_t>(mappedLength_), MS_SYNC) == 0) return RC_OK;
    // Pages that are not mapped have nothing to write back.
    if (errno == ENOMEM) return RC_OK;
    return ResultFromErrno(errno);
  }

 private:
  FileStream* stream_;
  std::uint8_t* base_;
  std::uint64_t mappedLength_;
  std::uint64_t delta_;
  std::uint64_t usableLength_;
  bool readOnly_;
};

FileStream::~FileStream() { Close(); }

ResultCode FileStream::Open(WStringView path, OpenKind kind, std::uint32_t access, std::uint32_t share,
                            std::uint32_t options, std::uint32_t mode, bool exactMode) {
  Close();
  std::string native;
  if (const ResultCode rc = ToNativePath(path, &native); Failed(rc)) return rc;

  int flags = O_CLOEXEC;
  const bool wantRead = (access & kAccessRead) != 0;
  const bool wantWrite = (access & kAccessWrite) != 0;
  // Without any access the file is still opened for reading: Linux has no
  // attribute-only descriptor that fstat and ftruncate both accept. Reads
  // are refused by the access check, not by the descriptor.
  flags |= wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  if ((options & kOptionWriteThrough) != 0) flags |= O_DSYNC;

  bool mayCreate = false;
  int existingFlags = 0;
  switch (kind) {
    case OpenKind::kCreateNew:
      break;
    case OpenKind::kCreateAlways:
      mayCreate = true;
      existingFlags = O_TRUNC;
      break;
    case OpenKind::kOpenExisting:
      break;
    case OpenKind::kOpenAlways:
      mayCreate = true;
      break;
    case OpenKind::kTruncateExisting:
      existingFlags = O_TRUNC;
      break;
    // pwrite on an O_APPEND descriptor ignores its offset on Linux, so every
    // write of this kind lands at the end of the file, as append-only
    // access requires.
    case OpenKind::kAppend:
      mayCreate = true;
      flags |= O_APPEND;
      break;
    default:
      return RC_INVALID_PARAMETER;
  }

  const mode_t createMode = static_cast<mode_t>(mode & 07777);
  int fd = -1;
  bool created = false;
  if (kind == OpenKind::kCreateNew) {
    fd = OpenDescriptor(native.c_str(), flags | O_CREAT | O_EXCL, createMode);
    created = fd >= 0;
  } else if (!mayCreate) {
    fd = OpenDescriptor(native.c_str(), flags | existingFlags, 0);
  } else {
    // An exclusive create first, so that we know whether the file is new
    // (only a new file gets the exact mode); then the existing file.
    for (int attempt = 0; fd < 0; ++attempt) {
      if (attempt == kCreateRaceRetries) {
        // A dangling symbolic link keeps both attempts failing; let the
        // system decide once without the exclusive flag.
        fd = OpenDescriptor(native.c_str(), flags | O_CREAT | existingFlags, createMode);
        break;
      }
      fd = OpenDescriptor(native.c_str(), flags | O_CREAT | O_EXCL, createMode);
      if (fd >= 0) {
        created = true;
        break;
      }
      if (errno != EEXIST) break;
      fd = OpenDescriptor(native.c_str(), flags | existingFlags, 0);
      if (fd < 0 && errno != ENOENT) break;
    }
  }
  if (fd < 0) return ResultFromErrno(errno);

  struct stat info;
  int error = 0;
  if (Files().fstat(fd, &info) != 0) {
    error = errno;
  } else if (S_ISDIR(info.st_mode)) {
    error = EISDIR;
  } else if (created && exactMode && fchmod(fd, createMode) != 0) {
    error = errno;
  }
  if (error == 0 && (options & kOptionDeleteOnClose) != 0) {
    try {
      deletePath_ = native;
    } catch (const std::bad_alloc&) {
      error = ENOMEM;
    }
    deleteDevice_ = info.st_dev;
    deleteInode_ = info.st_ino;
  }
  if (error != 0) {
    if (created) Files().unlink(native.c_str());
    Files().close(fd);
    deletePath_.clear();
    return ResultFromErrno(error);
  }
  if ((options & kOptionRandomAccess) != 0) posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);

  fd_ = fd;
  access_ = access;
  options_ = options;
  created_ = created;
  // Linux has no share modes; the share bits only say whether others are
  // expected to write, which rules out remembering the size.
  sizeCacheAllowed_ = access == kAccessRead && (share & kShareWrite) == 0;
  sizeCached_ = false;
  cachedSize_ = 0;
  Seek(0, 0);
  return RC_OK;
}

// Delete-on-close removes the name when the stream closes, not at open: as
// on the original platform, the file stays visible (and can be opened by
// name) while the stream holds it. A name that meanwhile points at another
// file (renamed over) is left alone.
void FileStream::Close() {
  if (fd_ < 0) return;
  if (!deletePath_.empty()) {
    struct stat info;
    if (Files().stat(deletePath_.c_str(), &info) == 0 && info.st_dev == deleteDevice_ &&
        info.st_ino == deleteInode_) {
      Files().unlink(deletePath_.c_str());
    }
    deletePath_.clear();
  }
  // close() is not retried on EINTR: Linux releases the descriptor anyway.
  Files().close(fd_);
  fd_ = -1;
  access_ = 0;
  options_ = 0;
  sizeCached_ = false;
}

bool FileStream::IsOpen() const { return fd_ >= 0; }
bool FileStream::IsAsynchronous() const { return fd_ >= 0 && (options_ & kOptionAsynchronous) != 0; }
bool FileStream::CanRead() const { return fd_ >= 0 && (access_ & kAccessRead) != 0; }
bool FileStream::CanWrite() const { return fd_ >= 0 && (access_ & kAccessWrite) != 0; }

ResultCode FileStream::NativeHandle(int* fd) const {
  if (fd == nullptr) return RC_INVALID_PARAMETER;
  if (fd_ < 0) return RC_EMPTY;
  *fd = fd_;
  return RC_OK;
}

void* FileStream::QueryInterface(std::uint32_t id, std::uint32_t index, bool* found) {
  if (id == kNativeHandleInterfaceId) {
    if (found != nullptr) *found = true;
    return this;
  }
  return Stream::QueryInterface(id, index, found);
}

ResultCode FileStream::GetSize(std::uint64_t* size) {
  if (size == nullptr) return RC_INVALID_PARAMETER;
  if (fd_ < 0) return RC_INVALID_HANDLE;
  if (sizeCacheAllowed_ && sizeCached_) {
    *size = cachedSize_;
    return RC_OK;
  }
  struct stat info;
  if (Files().fstat(fd_, &info) != 0) return ResultFromErrno(errno);
  *size = static_cast<std::uint64_t>(info.st_size);
  if (sizeCacheAllowed_) {
    cachedSize_ = *size;
    sizeCached_ = true;
  }
  return RC_OK;
}

// Growing keeps live views valid; shrinking under them would turn their
// pages past the new end into faults, so it is refused until they are gone.
ResultCode FileStream::SetSize(std::uint64_t size) {
  if (fd_ < 0) return RC_INVALID_HANDLE;
  if (!FitsOffset(size)) return RC_INVALID_PARAMETER;
  if ((access_ & kAccessWrite) == 0) return RC_ACCESS_DENIED;
  if (liveViews_ > 0) {
    struct stat info;
    if (Files().fstat(fd_, &info) != 0) return ResultFromErrno(errno);
    if (size < static_cast<std::uint64_t>(info.st_size)) return RC_INVALID_OPERATION;
  }
  int result;
  do {
    result = Files().ftruncate(fd_, static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  if (result != 0) return ResultFromErrno(errno);
  if (sizeCacheAllowed_) {
    cachedSize_ = size;
    sizeCached_ = true;
  }
  return RC_OK;
}

ResultCode FileStream::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t length, std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (fd_ < 0) return RC_INVALID_HANDLE;
  if (!FitsOffset(offset)) return RC_INVALID_PARAMETER;
  if ((access_ & kAccessRead) == 0) return RC_ACCESS_DENIED;
  if (length == 0) return RC_OK;
  if (buffer == nullptr) return RC_INVALID_PARAMETER;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::uint32_t got = 0;
  // A regular file returns short counts only at its end or on a signal;
  // keep reading until one of the two is certain.
  while (got < length) {
    const ssize_t n = Files().pread(fd_, bytes + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      if (done != nullptr) *done = got;
      return ResultFromErrno(error);
    }
    if (n == 0) break;
    got += static_cast<std::uint32_t>(n);
  }
  if (done != nullptr) *done = got;
  if (got == length) return RC_OK;
  if (done != nullptr && got > 0) return RC_INFO_LAST_INPUT;
  return RC_INPUT_TRUNCATED;
}

ResultCode FileStream::WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t length,
                               std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (fd_ < 0) return RC_INVALID_HANDLE;
  if (!FitsOffset(offset)) return RC_INVALID_PARAMETER;
  if ((access_ & kAccessWrite) == 0) return RC_ACCESS_DENIED;
  if (length == 0) return RC_OK;
  if (buffer == nullptr) return RC_INVALID_PARAMETER;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::uint32_t written = 0;
  ResultCode rc = RC_OK;
  while (written < length) {
    const ssize_t n =
        Files().pwrite(fd_, bytes + written, length - written, static_cast<off_t>(offset + written));
    if (n < 0) {
      if (errno == EINTR) continue;
      rc = ResultFromErrno(errno);
      break;
    }
    if (n == 0) {
      rc = RC_WRITE_FAULT;
      break;
    }
    written += static_cast<std::uint32_t>(n);
  }
  if (done != nullptr) *done = written;
  if (sizeCacheAllowed_ && sizeCached_ && offset + written > cachedSize_) cachedSize_ = offset + written;
  return rc;
}

ResultCode FileStream::MapView(std::uint64_t offset, std::uint64_t length, bool writable,
                               std::unique_ptr<StreamView>* view) {
  if (view == nullptr) return RC_INVALID_PARAMETER;
  view->reset();
  if (fd_ < 0) return RC_INVALID_HANDLE;
  // A stream that cannot read still maps read-write, as the design asks;
  // Linux refuses any shared mapping of a write-only descriptor, which
  // comes back as RC_ACCESS_DENIED.
  const bool readWrite = writable || !CanRead();
  std::uint64_t size = 0;
  const ResultCode rc = GetSize(&size);
  if (Failed(rc)) return rc;
  // The mapping covers the file as it is: a view cannot reach past its end.
  if (offset >= size) return RC_INVALID_PARAMETER;
  if (length == 0) length = size - offset;
  if (length > size - offset) return RC_INVALID_PARAMETER;

  const std::uint64_t page = PageSize();
  const std::uint64_t mappedOffset = offset - offset % page;
  const std::uint64_t delta = offset - mappedOffset;
  const std::uint64_t mappedLength = delta + length;
  if (mappedLength > std::numeric_limits<std::size_t>::max()) return RC_OUT_OF_MEMORY;
  const int protection = readWrite ? (PROT_READ | PROT_WRITE) : PROT_READ;
  void* base = Files().mmap(nullptr, static_cast<std::size_t>(mappedLength), protection, MAP_SHARED, fd_,
                            static_cast<off_t>(mappedOffset));
  if (base == MAP_FAILED) return ResultFromErrno(errno);
  auto* made = new (std::nothrow)
      FileView(this, static_cast<std::uint8_t*>(base), mappedLength, delta, length, !readWrite);
  if (made == nullptr) {
    Files().munmap(base, static_cast<std::size_t>(mappedLength));
    return RC_OUT_OF_MEMORY;
  }
  view->reset(made);
  return RC_OK;
}

}  // namespace zun
