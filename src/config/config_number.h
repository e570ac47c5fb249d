#pragma once
// Numbers in configuration values, read leniently: what a value starts with
// counts, the rest is ignored. Pure functions; safe on any thread.
#include <cstdint>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

class ConfigSection;

// An empty text is 0; a text that starts with "-" is RC_INVALID_PARAMETER.
// A text of three or more units that starts with "0x" or "0X" is read in
// base 16 after the prefix, any other in base 10. Digits ("0"-"9", then
// letters of either case for 10 and up) are taken from the left until the
// first unit that is not a digit of the base, or until the next digit would
// carry the value beyond 64 bits; the value so far is the result. So "100
// entries" gives 100 and "abc" gives 0.
ResultCode ParseNumber64(WStringView text, std::uint64_t* out);
// ParseNumber64 keeping the low 32 bits.
ResultCode ParseNumber32(WStringView text, std::uint32_t* out);

// The value of `key` read as above. RC_ITEM_NOT_PRESENT, with `*out` left as
// it is, when the section has no such key.
ResultCode GetNumber64(const ConfigSection& section, WStringView key, std::uint64_t* out);
ResultCode GetNumber32(const ConfigSection& section, WStringView key, std::uint32_t* out);

}  // namespace zun
