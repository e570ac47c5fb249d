#include "boundary/reconfigure_block.h"

#include <new>
#include <stdexcept>

namespace zun {

namespace {

// Reads little-endian fields, refusing to pass the end when one is known.
class BlockReader {
 public:
  BlockReader(const void* block, std::size_t size)
      : at_(static_cast<const std::uint8_t*>(block)), left_(size) {}

  // False when the end is known and fewer than `bytes` bytes are left.
  bool Holds(std::uint64_t bytes) const { return left_ == SIZE_MAX || left_ >= bytes; }

  bool Read(std::size_t bytes, std::uint64_t* value) {
    if (left_ != SIZE_MAX) {
      if (left_ < bytes) return false;
      left_ -= bytes;
    }
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < bytes; ++i) v |= std::uint64_t(at_[i]) << (8 * i);
    at_ += bytes;
    *value = v;
    return true;
  }

 private:
  const std::uint8_t* at_;
  std::size_t left_;
};

}  // namespace

ResultCode DecodeReconfigureBlock(const void* block, std::size_t size, WString* name,
                                  std::uint32_t* selector) {
  if (block == nullptr) return RC_INVALID_PARAMETER;
  BlockReader reader(block, size);
  std::uint64_t count = 0;
  if (!reader.Read(8, &count)) return RC_INPUT_TRUNCATED;
  // A count with a non-zero upper half, or all ones, names no text.
  if ((count >> 32) != 0 || count == 0xFFFFFFFFu) return RC_INVALID_DATA;
  // A count the known end cannot hold would fail at its first missing unit:
  // fail before reserving room for a name that is not there.
  if (!reader.Holds(2 * count)) return RC_INPUT_TRUNCATED;
  try {
    name->clear();
    name->reserve(static_cast<std::size_t>(count) + 1);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  } catch (const std::length_error&) {
    return RC_OUT_OF_MEMORY;
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t unit = 0;
    if (!reader.Read(2, &unit)) return RC_INPUT_TRUNCATED;
    name->push_back(static_cast<char16_t>(unit));
  }
  std::uint64_t value = 0;
  if (!reader.Read(4, &value)) return RC_INPUT_TRUNCATED;
  *selector = static_cast<std::uint32_t>(value);
  return 0;
}

}  // namespace zun
