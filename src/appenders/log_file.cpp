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

ResultCode LogFile::Write(WStringView text) noexcept {
  if (fd_ < 0) return RC_INVALID_HANDLE;
  try {
    bytes_.clear();
    if (encoding_ == EncodingMode::kUtf16Le) {
      AppendUtf16Le(text, bytes_);
      AppendUtf16Le(u"\r\n", bytes_);
    } else {
      if (Failed(AppendUtf8FromUtf16(text, bytes_))) bytes_ = ToUtf8(text);
      bytes_.append("\r\n");
    }
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }

  bool shortWrite = false;
  ResultCode rc = AppendOnce(&shortWrite);
  if (!shortWrite) return rc;
  rc = AppendOnce(&shortWrite);
  if (shortWrite) return RC_DISK_FULL;
  return rc;
}

ResultCode LogFile::AppendOnce(bool* shortWrite) noexcept {
  *shortWrite = false;
  std::size_t written = 0;
  const ResultCode rc = io_->Write(fd_, bytes_.data(), bytes_.size(), &written);
  if (Failed(rc)) return rc;
  if (written == bytes_.size()) return RC_OK;
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

ResultCode LogFile::Size(std::uint64_t* size) noexcept {
  if (fd_ < 0) return RC_INVALID_HANDLE;
  return io_->Size(fd_, size);
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
