#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/stream.h"

namespace zun {

namespace {

constexpr std::uint64_t kMaxMemorySize = 0xFFFFFFFFull;

// A window on the buffer. Growing the stream may move the buffer, which
// leaves earlier windows pointing at the old storage.
class MemoryView : public StreamView {
 public:
  MemoryView(std::uint8_t* data, std::uint64_t length, bool readOnly)
      : data_(data), length_(length), readOnly_(readOnly) {}
  std::uint8_t* Data() const override { return data_; }
  std::uint64_t Length() const override { return length_; }
  bool ReadOnly() const override { return readOnly_; }
  ResultCode Flush() override { return RC_OK; }

 private:
  std::uint8_t* data_;
  std::uint64_t length_;
  bool readOnly_;
};

}  // namespace

MemoryStream::MemoryStream() : mode_(1), readOnly_(false) {}

MemoryStream::MemoryStream(void* buffer, std::uint32_t capacity, std::uint32_t size, bool readOnly)
    : mode_(0),
      readOnly_(readOnly),
      external_(static_cast<std::uint8_t*>(buffer)),
      capacity_(buffer != nullptr ? capacity : 0),
      size_(std::min(size, buffer != nullptr ? capacity : 0)) {}

MemoryStream::MemoryStream(GrowableBuffer* owner, std::uint32_t size, bool readOnly)
    : mode_(2), readOnly_(readOnly), owner_(owner), size_(owner != nullptr ? size : 0) {}

const std::uint8_t* MemoryStream::Data() const {
  switch (mode_) {
    case 0:
      return external_;
    case 1:
      return own_.data();
    default:
      return owner_ != nullptr ? owner_->Data() : nullptr;
  }
}

std::uint8_t* MemoryStream::MutableData() { return const_cast<std::uint8_t*>(Data()); }

// Makes room for `size` bytes; the bytes between the old and the new size
// are the caller's to fill.
ResultCode MemoryStream::GrowTo(std::uint32_t size) {
  switch (mode_) {
    case 0:
      return size <= capacity_ ? RC_OK : RC_OFFSET_BEYOND_END;
    case 1:
      if (own_.size() < size) {
        try {
          own_.resize(size);
        } catch (const std::bad_alloc&) {
          return RC_OUT_OF_MEMORY;
        } catch (const std::length_error&) {
          return RC_OUT_OF_MEMORY;
        }
      }
      return RC_OK;
    default:
      if (owner_ == nullptr) return RC_CANNOT_GROW;
      return owner_->Grow(size);
  }
}

ResultCode MemoryStream::GetSize(std::uint64_t* size) {
  if (size == nullptr) return RC_INVALID_PARAMETER;
  *size = size_;
  return RC_OK;
}

ResultCode MemoryStream::SetSize(std::uint64_t size) {
  if (size > kMaxMemorySize) return RC_CANNOT_GROW;
  if (readOnly_) return RC_ACCESS_DENIED;
  const auto newSize = static_cast<std::uint32_t>(size);
  if (newSize > size_) {
    const ResultCode rc = GrowTo(newSize);
    if (Failed(rc)) return rc;
    std::memset(MutableData() + size_, 0, newSize - size_);
  }
  size_ = newSize;
  return RC_OK;
}

// A read that starts exactly at the end with a done count is a read that
// crosses the end with nothing left: 0 bytes and RC_INFO_LAST_INPUT.
ResultCode MemoryStream::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t length,
                                std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (offset > size_) return RC_INPUT_TRUNCATED;
  const std::uint64_t available = size_ - offset;
  const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, available));
  if (count > 0) {
    if (buffer == nullptr) return RC_INVALID_PARAMETER;
    std::memcpy(buffer, Data() + offset, count);
  }
  if (done != nullptr) *done = count;
  if (count == length) return RC_OK;
  return done != nullptr ? RC_INFO_LAST_INPUT : RC_INPUT_TRUNCATED;
}

ResultCode MemoryStream::WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t length,
                                 std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (readOnly_) return RC_ACCESS_DENIED;
  if (offset > kMaxMemorySize || offset + length > kMaxMemorySize) return RC_INPUT_TRUNCATED;
  if (length > 0 && buffer == nullptr) return RC_INVALID_PARAMETER;
  const auto start = static_cast<std::uint32_t>(offset);
  const auto end = static_cast<std::uint32_t>(offset + length);
  if (end > size_) {
    const ResultCode rc = GrowTo(end);
    if (Failed(rc)) return rc;
  }
  std::uint8_t* data = MutableData();
  if (start > size_) std::memset(data + size_, 0, start - size_);
  if (length > 0) std::memcpy(data + start, buffer, length);
  size_ = std::max(size_, end);
  if (done != nullptr) *done = length;
  return RC_OK;
}

ResultCode MemoryStream::MapView(std::uint64_t offset, std::uint64_t length, bool writable,
                                 std::unique_ptr<StreamView>* view) {
  if (view == nullptr) return RC_INVALID_PARAMETER;
  view->reset();
  if (writable && readOnly_) return RC_ACCESS_DENIED;
  if (offset > size_) return RC_OFFSET_BEYOND_END;
  if (length == 0) length = size_ - offset;
  if (length > size_ - offset) return RC_OFFSET_BEYOND_END;
  auto* made = new (std::nothrow) MemoryView(MutableData() + offset, length, !writable);
  if (made == nullptr) return RC_OUT_OF_MEMORY;
  view->reset(made);
  return RC_OK;
}

}  // namespace zun
