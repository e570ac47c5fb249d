// Any bytes as the parameter block of a remote reconfigure, read with its
// end known. Either the block decodes to a name of exactly the declared
// count of units, taken from the bytes after the count, and the selector
// after them, or the code says what is wrong: too short for the count, the
// units or the selector, or a count no text can have. A block that decodes
// with its end known decodes the same way without it.
#include <algorithm>

#include "boundary/reconfigure_block.h"
#include "fuzz_support.h"

namespace {

using namespace zun;
using zun::fuzz::Check;

// The code a block of `size` bytes must give: RC_OK when it is whole.
ResultCode ExpectedCode(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return RC_INPUT_TRUNCATED;
  const std::uint64_t count = fuzz::InputReader{data, size}.Number(8);
  if ((count >> 32) != 0 || count == 0xFFFFFFFFu) return RC_INVALID_DATA;
  return size - 8 < 2 * count + 4 ? RC_INPUT_TRUNCATED : RC_OK;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes (never null), so a read past the end is
  // seen.
  const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]);
  std::copy(data, data + size, block.get());
  WString name = u"untouched";
  std::uint32_t selector = 0xDEADBEEF;
  const ResultCode rc = DecodeReconfigureBlock(block.get(), size, &name, &selector);
  Check(rc == ExpectedCode(data, size));
  if (rc != RC_OK) return 0;

  // The count, that many units, the selector, all little-endian.
  fuzz::InputReader in{data, size};
  Check(name == in.Units(in.Number(8)) && selector == in.Number(4));

  WString again;
  std::uint32_t selectorAgain = 0;
  Check(DecodeReconfigureBlock(block.get(), SIZE_MAX, &again, &selectorAgain) == RC_OK);
  Check(again == name && selectorAgain == selector);
  return 0;
}
