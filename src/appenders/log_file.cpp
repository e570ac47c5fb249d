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

}  // namespace

LogFile::~LogFile() { Close(); }

ResultCode LogFile::Open(WStringView path) noexcept {
  Close();
  int fd = -1;
  ResultCode rc = io_->Open(path, &fd);
  if (Failed(rc)) return rc;

  // A failed read, like a short one, leaves the file to be taken as UTF-8.
  unsigned char head[2] = {0, 0};
  std::size_t got = 0;
  io_->ReadAt(fd, 0, head, sizeof head, &got);
  const EncodingMode encoding =
      (got == 2 && head[0] == 0xFF && head[1] == 0xFE) ? EncodingMode::kUtf16Le : EncodingMode::kUtf8;

  // The mark goes in only while the file is empty (so it is always the
  // UTF-8 mark), and before the description is switched to append mode,
  // which would move it to the end. Two writers that both found the file
  // empty write the same bytes at the same place, so their race is harmless.
  std::uint64_t size = 0;
  rc = io_->Size(fd, &size);
  if (Succeeded(rc) && size == 0) rc = io_->WriteAt(fd, 0, kUtf8Mark, sizeof kUtf8Mark);
  if (Succeeded(rc)) rc = io_->SetAppendMode(fd, true);
  if (Failed(rc)) {
    io_->Close(fd);
    return rc;
  }
  fd_ = fd;
  encoding_ = encoding;
  return RC_OK;
}

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
  if (fd_ < 0) return RC_INVALID_HANDLE;
  bytes_.clear();
  const ResultCode rc = EncodeLine(text, bytes_);
  if (Failed(rc)) return rc;
  return AppendWithRetry(bytes_);
}

ResultCode LogFile::Keep(WStringView text) noexcept {
  if (fd_ < 0) return RC_INVALID_HANDLE;
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
  if (fd_ < 0) {
    rc = kept_.empty() ? RC_OK : RC_INVALID_HANDLE;
  } else if (!kept_.empty()) {
    bool shortWrite = false;
    rc = AppendOnce(kept_, &shortWrite);
    if (shortWrite) {
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
  if (!shortWrite) return rc;
  rc = AppendOnce(bytes, &shortWrite);
  if (shortWrite) return RC_DISK_FULL;
  return rc;
}

ResultCode LogFile::AppendOnce(std::string_view bytes, bool* shortWrite) noexcept {
  *shortWrite = false;
  std::size_t written = 0;
  const ResultCode rc = io_->Write(fd_, bytes.data(), bytes.size(), &written);
  if (Failed(rc)) return rc;
  if (written == bytes.size()) return RC_OK;
  *shortWrite = true;
  BlankFragment(written);
  return RC_DISK_FULL;
}

void LogFile::BlankFragment(std::size_t length) noexcept {
  if (length == 0) return;
  const bool wide = encoding_ == EncodingMode::kUtf16Le;
  if (wide && length % 2 != 0) return;
  std::uint64_t end = 0;
  if (Failed(io_->Offset(fd_, &end)) || end < length) return;
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
  if (Failed(io_->SetAppendMode(fd_, false))) return;
  io_->WriteAt(fd_, end - length, blank_.data(), blank_.size());
  // Writing on without append mode would overwrite other writers' lines:
  // rather give the file up (later writes fail until it is opened again).
  if (Failed(io_->SetAppendMode(fd_, true))) Close();
}

ResultCode LogFile::Flush() noexcept {
  if (fd_ < 0) return RC_INVALID_HANDLE;
  return io_->SyncData(fd_);
}

ResultCode LogFile::Truncate() noexcept {
  if (fd_ < 0) return RC_INVALID_HANDLE;
  return io_->SetSize(fd_, 0);
}

ResultCode LogFile::Close() noexcept {
  if (fd_ < 0) return RC_OK;
  const int fd = fd_;
  fd_ = -1;
  encoding_ = EncodingMode::kUndecided;
  return io_->Close(fd);
}

}  // namespace zun
