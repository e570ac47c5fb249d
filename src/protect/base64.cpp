#include "protect/base64.h"

#include <cstdint>
#include <new>
#include <stdexcept>

namespace zun {

namespace {

constexpr char16_t kAlphabet[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

ResultCode AppendBase64(WString& out, const void* bytes, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  const std::size_t start = out.size();
  try {
    out.resize(start + Base64Length(count));
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  } catch (const std::length_error&) {
    return RC_OUT_OF_MEMORY;
  }
  char16_t* w = out.data() + start;
  std::size_t i = 0;
  for (; i + 3 <= count; i += 3) {
    const std::uint32_t v = (std::uint32_t{p[i]} << 16) | (std::uint32_t{p[i + 1]} << 8) | p[i + 2];
    *w++ = kAlphabet[v >> 18];
    *w++ = kAlphabet[(v >> 12) & 63];
    *w++ = kAlphabet[(v >> 6) & 63];
    *w++ = kAlphabet[v & 63];
  }
  const std::size_t rest = count - i;
  if (rest > 0) {
    const std::uint32_t v = (std::uint32_t{p[i]} << 16) | (rest == 2 ? std::uint32_t{p[i + 1]} << 8 : 0);
    *w++ = kAlphabet[v >> 18];
    *w++ = kAlphabet[(v >> 12) & 63];
    *w++ = rest == 2 ? kAlphabet[(v >> 6) & 63] : u'=';
    *w++ = u'=';
  }
  return RC_OK;
}

}  // namespace zun
