#include "appenders/log_file.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/process_info.h"

namespace zun {

namespace {

constexpr char kUtf8Mark[] = {'\xEF', '\xBB', '\xBF'};

void AppendUtf16Le(WStringView text, std::string& out) {
  for (const char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
}

}  // namespace

LogFile::~LogFile() { Close(); }

ResultCode LogFile::Open(WStringView path) noexcept {
  Close();
  const ResultCode rc = OpenLogFile(path, std::string_view(kUtf8Mark, sizeof kUtf8Mark), &handle_);
  if (Failed(rc)) return rc;
  const bool wide = handle_.headLength == 2 && handle_.head[0] == 0xFF && handle_.head[1] == 0xFE;
  encoding_ = wide ? EncodingMode::kUtf16Le : EncodingMode::kUtf8;
  sizeLimit_.store(handle_.regular ? FileSizeLimit() : kNoFileSizeLimit, std::memory_order_relaxed);
  return RC_OK;
}

bool LogFile::StillAtPath() const noexcept { return handle_.fd < 0 || LogFileStillAtPath(handle_); }

ResultCode LogFile::EncodeLine(WStringView text, std::string& out) const noexcept {
  const std::size_t before = out.size();
  try {
    if (encoding_ == EncodingMode::kUtf16Le) {
      AppendUtf16Le(text, out);
      AppendUtf16Le(u"\r\n", out);
    } else {
      if (Failed(AppendUtf8FromUtf16(text, out))) {
        out.resize(before);
        out += ToUtf8(text);
      }
      out.append("\r\n");
    }
    return RC_OK;
  } catch (const std::bad_alloc&) {
    out.resize(before);
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode LogFile::Write(WStringView text, DeferredLine* line) noexcept {
  if (handle_.fd < 0) return RC_INVALID_HANDLE;
  bytes_.clear();
  const ResultCode rc = EncodeLine(text, bytes_);
  if (Failed(rc)) return rc;
  if (line != nullptr && Defer(line)) return RC_OK;
  bool lost = false;
  const ResultCode rc2 = AppendWithRetry(handle_.fd, bytes_, &sizeLimit_, &lost);
  // Writing on without append mode would overwrite other writers' lines:
  // rather give the file up (later writes fail until it is opened again).
  if (lost) Close();
  return rc2;
}

bool LogFile::Defer(DeferredLine* line) noexcept {
  if (!handle_.regular || encoding_ != EncodingMode::kUtf8 ||
      sizeLimit_.load(std::memory_order_relaxed) != kNoFileSizeLimit || slotsUnavailable_ ||
      bytes_.size() > DeferredLine::kCapacity) {
    return false;
  }
  // Holds taken before a fork belong to threads the child does not have.
  const std::uint32_t process = CurrentProcessId();
  if (slotsProcess_ != process) {
    slotsInUse_.store(0, std::memory_order_relaxed);
    slotsProcess_ = process;
  }
  // Never waits for a description: the caller may hold one of another file
  // already, and Close waits for those under the appender's lock.
  const std::uint32_t unusable =
      slotsInUse_.load(std::memory_order_acquire) | slotsLost_.load(std::memory_order_acquire);
  std::uint32_t slot = 0;
  while (slot < slotCount_ && (unusable & (1u << slot)) != 0) ++slot;
  if (slot == slotCount_) {
    if (slotCount_ == kWriteSlots) return false;
    if (Failed(OpenLogFileAgain(handle_, &slotFds_[slot]))) {
      slotsUnavailable_ = slotCount_ == 0;
      return false;
    }
    ++slotCount_;
  }
  // Only the lock holder sets bits; writers clear their own.
  slotsInUse_.fetch_or(1u << slot, std::memory_order_acquire);
  line->file = this;
  line->fd = slotFds_[slot];
  line->slot = slot;
  line->size = bytes_.size();
  std::memcpy(line->bytes, bytes_.data(), bytes_.size());
  return true;
}

ResultCode LogFile::WriteDeferred(DeferredLine& line) noexcept {
  LogFile* const file = line.file;
  if (file == nullptr) return RC_OK;
  // A limit that another writer met since guards this write too.
  bool lost = false;
  const ResultCode rc =
      file->AppendWithRetry(line.fd, std::string_view(line.bytes, line.size), &file->sizeLimit_, &lost);
  const std::uint32_t bit = 1u << line.slot;
  if (lost) file->slotsLost_.fetch_or(bit, std::memory_order_release);
  file->slotsInUse_.fetch_and(~bit, std::memory_order_release);
  file->slotsInUse_.notify_all();
  line.file = nullptr;
  return rc;
}

void LogFile::WaitForDeferredLines() noexcept {
  if (slotsProcess_ != CurrentProcessId()) return;
  for (std::uint32_t inUse; (inUse = slotsInUse_.load(std::memory_order_acquire)) != 0;) {
    slotsInUse_.wait(inUse, std::memory_order_acquire);
  }
}

void LogFile::CloseWriteSlots() noexcept {
  WaitForDeferredLines();
  for (std::uint32_t slot = 0; slot < slotCount_; ++slot) CloseLogFile(slotFds_[slot]);
  slotCount_ = 0;
  slotsUnavailable_ = false;
  slotsInUse_.store(0, std::memory_order_relaxed);
  slotsLost_.store(0, std::memory_order_relaxed);
}

ResultCode LogFile::Keep(WStringView text) noexcept {
  if (handle_.fd < 0) return RC_INVALID_HANDLE;
  const ResultCode rc = EncodeLine(text, kept_);
  if (Failed(rc)) return rc;
  try {
    keptEnds_.push_back(kept_.size());
    return RC_OK;
  } catch (const std::bad_alloc&) {
    kept_.resize(keptEnds_.empty() ? 0 : keptEnds_.back());
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode LogFile::WriteKept() noexcept {
  ResultCode rc = RC_OK;
  if (handle_.fd < 0) {
    rc = kept_.empty() ? RC_OK : RC_INVALID_HANDLE;
  } else if (!kept_.empty()) {
    bool shortWrite = false, lost = false;
    rc = AppendOnce(handle_.fd, kept_, &sizeLimit_, &shortWrite, &lost);
    if (lost) {
      Close();
    } else if (shortWrite && rc != ResultFromErrno(EFBIG)) {
      // The part that landed is blank now; each line gets the chance Write
      // gives it.
      rc = RC_OK;
      std::size_t start = 0;
      for (const std::size_t end : keptEnds_) {
        const ResultCode lineRc = AppendWithRetry(
            handle_.fd, std::string_view(kept_).substr(start, end - start), &sizeLimit_, &lost);
        if (lost) Close();
        if (Failed(lineRc) && Succeeded(rc)) rc = lineRc;
        start = end;
      }
    }
  }
  kept_.clear();
  keptEnds_.clear();
  return rc;
}

ResultCode LogFile::AppendWithRetry(int fd, std::string_view bytes, std::atomic<std::uint64_t>* limit,
                                    bool* lost) noexcept {
  bool shortWrite = false;
  ResultCode rc = AppendOnce(fd, bytes, limit, &shortWrite, lost);
  // Cut short at the size limit: another try would start at the limit.
  if (!shortWrite || *lost || rc == ResultFromErrno(EFBIG)) return rc;
  rc = AppendOnce(fd, bytes, limit, &shortWrite, lost);
  if (shortWrite && rc != ResultFromErrno(EFBIG)) return RC_DISK_FULL;
  return rc;
}

ResultCode LogFile::AppendOnce(int fd, std::string_view bytes, std::atomic<std::uint64_t>* limit,
                               bool* shortWrite, bool* lost) noexcept {
  *shortWrite = false;
  // Under a file size limit every write is guarded against SIGXFSZ, and the
  // limit is read again, so that lifting it ends the guard.
  if (limit->load(std::memory_order_relaxed) != kNoFileSizeLimit) limit->store(FileSizeLimit());
  std::size_t written = 0;
  const ResultCode rc = AppendToLogFile(fd, bytes.data(), bytes.size(), &written,
                                        limit->load(std::memory_order_relaxed) != kNoFileSizeLimit);
  if (Failed(rc) || written == bytes.size()) return rc;
  *shortWrite = true;
  std::uint64_t end = 0;
  const bool endKnown = Succeeded(LogFileOffset(fd, &end));
  if (endKnown) *lost = !BlankFragment(fd, written, end);
  if (handle_.regular) limit->store(FileSizeLimit());
  if (endKnown && end >= limit->load()) return ResultFromErrno(EFBIG);
  return RC_DISK_FULL;
}

bool LogFile::BlankFragment(int fd, std::size_t length, std::uint64_t end) const noexcept {
  const bool wide = encoding_ == EncodingMode::kUtf16Le;
  if (length == 0 || !handle_.regular || (wide && length % 2 != 0) || end < length) return true;
  std::string blank;
  try {
    if (wide) {
      const std::size_t units = length / 2;
      const WStringView ending = units >= 2 ? WStringView(u"\r\n") : WStringView(u"\n");
      AppendUtf16Le(WString(units - ending.size(), u' '), blank);
      AppendUtf16Le(ending, blank);
    } else {
      const std::string_view ending = length >= 2 ? std::string_view("\r\n") : std::string_view("\n");
      blank.assign(length - ending.size(), ' ');
      blank.append(ending);
    }
  } catch (const std::bad_alloc&) {
    return true;
  }
  // Only this description leaves append mode, and only for the one write at
  // a known place inside bytes this write put there.
  if (Failed(SetLogFileAppendMode(fd, false))) return true;
  WriteLogFileAt(fd, end - length, blank.data(), blank.size());
  return Succeeded(SetLogFileAppendMode(fd, true));
}

ResultCode LogFile::Size(std::uint64_t* size) noexcept {
  if (handle_.fd < 0) return RC_INVALID_HANDLE;
  return LogFileSize(handle_.fd, size);
}

ResultCode LogFile::Flush() noexcept {
  if (handle_.fd < 0) return RC_INVALID_HANDLE;
  return SyncLogFile(handle_.fd);
}

ResultCode LogFile::Truncate() noexcept {
  if (handle_.fd < 0) return RC_INVALID_HANDLE;
  CloseWriteSlots();
  return SetLogFileSize(handle_.fd, 0);
}

ResultCode LogFile::Close() noexcept {
  if (handle_.fd < 0) return RC_OK;
  CloseWriteSlots();
  const int fd = handle_.fd;
  handle_.fd = -1;
  encoding_ = EncodingMode::kUndecided;
  return CloseLogFile(fd);
}

}  // namespace zun
