#include "appenders/log_file.h"

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

// `text` without zeros and without a CR before a LF, in `scratch` when it
// had any. May throw std::bad_alloc.
WStringView LineText(WStringView text, WString& scratch) {
  if (text.find(u'\0') == WStringView::npos && text.find(u"\r\n") == WStringView::npos) return text;
  scratch.clear();
  for (const char16_t c : text) {
    if (c == 0) {
      scratch.append(u"\\0");
      continue;
    }
    if (c == u'\n') {
      while (!scratch.empty() && scratch.back() == u'\r') scratch.pop_back();
    }
    scratch.push_back(c);
  }
  return scratch;
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

ResultCode LogFile::Write(WStringView text) noexcept {
  if (handle_.fd < 0) return RC_INVALID_HANDLE;
  try {
    bytes_.clear();
    const WStringView line = LineText(text, cleaned_);
    if (encoding_ == EncodingMode::kUtf16Le) {
      AppendUtf16Le(line, bytes_);
      AppendUtf16Le(u"\r\n", bytes_);
    } else {
      if (Failed(AppendUtf8FromUtf16(line, bytes_))) bytes_ = ToUtf8(line);
      bytes_.append("\r\n");
    }
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }

  // Under a file size limit every write is guarded against SIGXFSZ, and the
  // limit is read again, so that lifting it ends the guard.
  if (sizeLimit_ != kNoFileSizeLimit) sizeLimit_ = FileSizeLimit();
  for (int attempt = 0;; ++attempt) {
    std::size_t written = 0;
    const ResultCode rc =
        AppendToLogFile(handle_.fd, bytes_.data(), bytes_.size(), &written, sizeLimit_ != kNoFileSizeLimit);
    if (Failed(rc) || written == bytes_.size()) return rc;
    std::uint64_t end = 0;
    const bool endKnown = Succeeded(LogFileOffset(handle_.fd, &end));
    if (endKnown) BlankFragment(written, end);
    // Cut short at the size limit: another try would start at the limit.
    if (handle_.regular) sizeLimit_ = FileSizeLimit();
    if (endKnown && end >= sizeLimit_) return ResultFromErrno(EFBIG);
    if (attempt == 1) return RC_DISK_FULL;
  }
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
