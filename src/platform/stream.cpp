#include "platform/stream.h"

namespace zun {

void* Stream::QueryInterface(std::uint32_t id, std::uint32_t /*index*/, bool* found) {
  const bool known = id == kStreamInterfaceId;
  if (found != nullptr) *found = known;
  return known ? static_cast<Stream*>(this) : nullptr;
}

// With a done count the position moves by what was really transferred, even
// on a partial failure; without one, a failed call leaves it where it was.
ResultCode Stream::Read(void* buffer, std::uint32_t length, std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  const ResultCode rc = ReadAt(position_, buffer, length, done);
  if (done != nullptr) {
    position_ += *done;
  } else if (Succeeded(rc)) {
    position_ += length;
  }
  return rc;
}

ResultCode Stream::Write(const void* buffer, std::uint32_t length, std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  const ResultCode rc = WriteAt(position_, buffer, length, done);
  if (done != nullptr) {
    position_ += *done;
  } else if (Succeeded(rc)) {
    position_ += length;
  }
  return rc;
}

ResultCode Stream::Seek(std::int64_t offset, std::uint32_t origin) {
  std::uint64_t base = 0;
  switch (origin) {
    case 0:
      break;
    case 1:
      base = position_;
      break;
    case 2: {
      const ResultCode rc = GetSize(&base);
      if (Failed(rc)) return rc;
      break;
    }
    default:
      return RC_INVALID_PARAMETER;
  }
  if (offset < 0) {
    // Negate in unsigned arithmetic so INT64_MIN stays well defined.
    const std::uint64_t back = ~static_cast<std::uint64_t>(offset) + 1;
    if (back > base) return RC_NEGATIVE_SEEK;
    position_ = base - back;
  } else {
    position_ = base + static_cast<std::uint64_t>(offset);
  }
  return RC_OK;
}

}  // namespace zun
