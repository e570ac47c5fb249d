#pragma once
// Text inside the library is UTF-16; files and the system see UTF-8. These
// conversions are the only place the two meet.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result_code.h"

namespace zun {

using WString = std::u16string;
using WStringView = std::u16string_view;

// Length of a zero-terminated UTF-16 text; 0 for null.
std::size_t WideLength(const char16_t* text);
// A view of a possibly null zero-terminated text.
inline WStringView ViewOf(const char16_t* text) {
  return text ? WStringView(text, WideLength(text)) : WStringView();
}
// The part before the first zero: what a counted text says when it is read
// as zero-terminated text.
inline WStringView UpToZero(WStringView text) { return text.substr(0, text.find(u'\0')); }

// Strict: lone surrogates give RC_INVALID_DATA and leave `out` as it was.
ResultCode AppendUtf8FromUtf16(WStringView text, std::string& out);
// Strict: malformed, overlong or surrogate sequences give RC_INVALID_DATA.
ResultCode AppendUtf16FromUtf8(std::string_view text, WString& out);
// Windows-1252 bytes to UTF-16 (the code page of files without a mark that
// are not valid UTF-8); never fails.
void AppendUtf16FromCp1252(std::string_view text, WString& out);

// Lenient forms for paths and diagnostics: invalid units become U+FFFD.
std::string ToUtf8(WStringView text);
WString ToUtf16(std::string_view text);

// ASCII-only case folding, used by names compared "without regard to case".
inline char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }
// Upper-case of one UTF-16 unit, beyond ASCII for Latin-1 and basic Greek and
// Cyrillic letters (the system's upper-case table stands behind this on the
// original platform).
char16_t UpperCase(char16_t c);
bool EqualsIgnoreCase(WStringView a, WStringView b);
// Orders texts by their UTF-16LE bytes, then by length: the order of the
// configuration tables and of a logger's children.
bool Utf16LeBytesLess(WStringView a, WStringView b) noexcept;

}  // namespace zun
