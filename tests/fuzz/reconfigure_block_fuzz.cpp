// Any bytes as the parameter block of a remote reconfigure, read with its
// end known. Either the block decodes to a name of exactly the declared
// count of units, taken from the bytes after the count, and the selector
// after them, or the code says what is wrong: too short for the count, the
// units or the selector, or a count no text can have. A block that decodes
// with its end known decodes the same way without it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "boundary/reconfigure_block.h"
#include "fuzz_support.h"

namespace {

std::uint64_t LittleEndian(const std::uint8_t* at, std::size_t bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < bytes; ++i) value |= std::uint64_t(at[i]) << (8 * i);
  return value;
}

// The code a block of `size` bytes must give: RC_OK when it is whole.
zun::ResultCode ExpectedCode(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return zun::RC_INPUT_TRUNCATED;
  const std::uint64_t count = LittleEndian(data, 8);
  if ((count >> 32) != 0 || count == 0xFFFFFFFFu) return zun::RC_INVALID_DATA;
  return size - 8 < 2 * count + 4 ? zun::RC_INPUT_TRUNCATED : zun::RC_OK;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes (never null), so a read past the end is
  // seen.
  const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]);
  std::copy(data, data + size, block.get());
  zun::WString name = u"untouched";
  std::uint32_t selector = 0xDEADBEEF;
  const zun::ResultCode rc = zun::DecodeReconfigureBlock(block.get(), size, &name, &selector);
  zun::fuzz::Check(rc == ExpectedCode(data, size));
  if (rc != zun::RC_OK) return 0;

  const std::size_t count = static_cast<std::size_t>(LittleEndian(data, 8));
  zun::fuzz::Check(name.size() == count);
  for (std::size_t i = 0; i < count; ++i) {
    zun::fuzz::Check(name[i] == static_cast<char16_t>(LittleEndian(data + 8 + 2 * i, 2)));
  }
  zun::fuzz::Check(selector == LittleEndian(data + 8 + 2 * count, 4));

  zun::WString again;
  std::uint32_t selectorAgain = 0;
  zun::fuzz::Check(zun::DecodeReconfigureBlock(block.get(), SIZE_MAX, &again, &selectorAgain) == zun::RC_OK);
  zun::fuzz::Check(again == name && selectorAgain == selector);
  return 0;
}
