#pragma once
// The bytes every protected form encrypts or scrambles: the tag byte 0x61
// ("a") followed by the UTF-8 form of the text, without a terminating zero.
// The bytes live in a std::string used as a byte buffer.
#include <cstddef>
#include <string>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

inline constexpr char kTextPayloadTag = 0x61;

// Appends the payload of `text` to `payload`. A lone surrogate gives
// RC_INVALID_DATA, no memory RC_OUT_OF_MEMORY; on failure `payload` is left
// as it was.
ResultCode MakeTextPayload(std::string& payload, WStringView text);

}  // namespace zun
