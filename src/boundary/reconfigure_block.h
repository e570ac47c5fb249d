#pragma once
// The parameter block another process writes for a remote reconfigure:
// 8-byte little-endian character count N (upper half zero), N UTF-16LE
// units, 4-byte little-endian selector.
#include <cstddef>
#include <cstdint>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

// `size` is the number of readable bytes, or SIZE_MAX when the block is
// taken to be complete (the remote entry point knows no end).
ResultCode DecodeReconfigureBlock(const void* block, std::size_t size, WString* name,
                                  std::uint32_t* selector);

}  // namespace zun
