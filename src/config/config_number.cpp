#include "config/config_number.h"

#include <new>

#include "config/config_document.h"

namespace zun {

namespace {

unsigned DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'z') return c - u'a' + 10;
  if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
  return 36;
}

template <typename T>
ResultCode GetNumber(const ConfigSection& section, WStringView key, T* out,
                     ResultCode (*parse)(WStringView, T*)) {
  try {
    WString value;
    const ResultCode rc = section.GetValue(key, &value);
    if (Failed(rc)) return rc;
    return parse(value, out);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace

ResultCode ParseNumber64(WStringView text, std::uint64_t* out) {
  if (!text.empty() && text[0] == u'-') return RC_INVALID_PARAMETER;
  unsigned base = 10;
  if (text.size() >= 3 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  std::uint64_t value = 0;
  for (const char16_t c : text) {
    const unsigned digit = DigitValue(c);
    if (digit >= base || value > (UINT64_MAX - digit) / base) break;
    value = value * base + digit;
  }
  *out = value;
  return RC_OK;
}

ResultCode ParseNumber32(WStringView text, std::uint32_t* out) {
  std::uint64_t value = 0;
  const ResultCode rc = ParseNumber64(text, &value);
  if (Succeeded(rc)) *out = static_cast<std::uint32_t>(value);
  return rc;
}

ResultCode GetNumber64(const ConfigSection& section, WStringView key, std::uint64_t* out) {
  return GetNumber(section, key, out, ParseNumber64);
}

ResultCode GetNumber32(const ConfigSection& section, WStringView key, std::uint32_t* out) {
  return GetNumber(section, key, out, ParseNumber32);
}

}  // namespace zun
