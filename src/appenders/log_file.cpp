#include "appenders/log_file.h"

#include <cerrno>
#include <new>

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
  sizeLimit_ = handle_.regular ? FileSizeLimit() : kNoFileSizeLimit;
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

ResultCode LogFile::Write(WStringView text) noexcept {
  if (handle_.fd < 0) return RC_INVALID_HANDLE;
  bytes_.clear();
  const ResultCode rc = EncodeLine(text, bytes_);
  if (Failed(rc)) return rc;
  return AppendWithRetry(bytes_);
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
    bool shortWrite = false;
    rc = AppendOnce(kept_, &shortWrite);
    if (shortWrite && rc != ResultFromErrno(EFBIG)) {
      // The part that landed is blank now; each line gets the chance Write
      // gives it.
      rc = RC_OK;
      std::size_t start = 0;
      for (const std::size_t end : keptEnds_) {
        const ResultCode lineRc = AppendWithRetry(std::string_view(kept_).substr(start, end - start));
        if (Failed(lineRc) && Succeeded(rc)) rc = lineRc;
        start = end;
      }
    }
  }
  kept_.clear();
  keptEnds_.clear();
  return rc;
}

ResultCode LogFile::AppendWithRetry(std::string_view bytes) noexcept {
  bool shortWrite = false;
  ResultCode rc = AppendOnce(bytes, &shortWrite);
  // Cut short at the size limit: another try would start at the limit.
  if (!shortWrite || rc == ResultFromErrno(EFBIG)) return rc;
  rc = AppendOnce(bytes, &shortWrite);
  if (shortWrite && rc != ResultFromErrno(EFBIG)) return RC_DISK_FULL;
  return rc;
}

ResultCode LogFile::AppendOnce(std::string_view bytes, bool* shortWrite) noexcept {
  *shortWrite = false;
  // Under a file size limit every write is guarded against SIGXFSZ, and the
  // limit is read again, so that lifting it ends the guard.
  if (sizeLimit_ != kNoFileSizeLimit) sizeLimit_ = FileSizeLimit();
  std::size_t written = 0;
  const ResultCode rc =
      AppendToLogFile(handle_.fd, bytes.data(), bytes.size(), &written, sizeLimit_ != kNoFileSizeLimit);
  if (Failed(rc) || written == bytes.size()) return rc;
  *shortWrite = true;
  std::uint64_t end = 0;
  const bool endKnown = Succeeded(LogFileOffset(handle_.fd, &end));
  if (endKnown) BlankFragment(written, end);
  if (handle_.regular) sizeLimit_ = FileSizeLimit();
  if (endKnown && end >= sizeLimit_) return ResultFromErrno(EFBIG);
  return RC_DISK_FULL;
}

void LogFile::BlankFragment(std::size_t length, std::uint64_t end) noexcept {
  const bool wide = encoding_ == EncodingMode::kUtf16Le;
  if (length == 0 || !handle_.regular || (wide && length % 2 != 0) || end < length) return;
  try {
    blank_.clear();
    if (wide) {
      const std::size_t units = length / 2;
      const WStringView ending = units >= 2 ? WStringView(u"\r\n") : WStringView(u"\n");
      AppendUtf16Le(WString(units - ending.size(), u' '), blank_);
      AppendUtf16Le(ending, blank_);
    } else {
      const std::string_view ending = length >= 2 ? std::string_view("\r\n") : std::string_view("\n");
      blank_.assign(length - ending.size(), ' ');
      blank_.append(ending);
    }
  } catch (const std::bad_alloc&) {
    return;
  }
  // Only this description leaves append mode, and only for the one write at
  // a known place inside bytes this write put there.
  if (Failed(SetLogFileAppendMode(handle_.fd, false))) return;
  WriteLogFileAt(handle_.fd, end - length, blank_.data(), blank_.size());
  // Writing on without append mode would overwrite other writers' lines:
  // rather give the file up (later writes fail until it is opened again).
  if (Failed(SetLogFileAppendMode(handle_.fd, true))) Close();
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
  return SetLogFileSize(handle_.fd, 0);
}

ResultCode LogFile::Close() noexcept {
  if (handle_.fd < 0) return RC_OK;
  const int fd = handle_.fd;
  handle_.fd = -1;
  encoding_ = EncodingMode::kUndecided;
  return CloseLogFile(fd);
}

}  // namespace zun
