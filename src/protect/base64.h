#pragma once
// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks) into
// UTF-16 text, the last step of every protected form.
#include <cstddef>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

// 4 * ceil(count / 3) characters; none for count 0.
constexpr std::size_t Base64Length(std::size_t count) { return (count + 2) / 3 * 4; }

// Appends the base64 form of the bytes after the text already in `out`. No
// memory: RC_OUT_OF_MEMORY with `out` unchanged.
ResultCode AppendBase64(WString& out, const void* bytes, std::size_t count);

}  // namespace zun
