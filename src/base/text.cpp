#include "base/text.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace zun {

std::size_t WideLength(const char16_t* text) {
  if (text == nullptr) return 0;
  const char16_t* end = text;
  while (*end != 0) ++end;
  return static_cast<std::size_t>(end - text);
}

namespace {

// Writes the UTF-8 bytes of `cp` at `p` and returns the end of them.
char* PutUtf8(char32_t cp, char* p) {
  if (cp < 0x80) {
    *p++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *p++ = static_cast<char>(0xC0 | (cp >> 6));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (cp >> 12));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (cp >> 18));
    *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return p;
}

void PutUtf8(char32_t cp, std::string& out) {
  char bytes[4];
  out.append(bytes, PutUtf8(cp, bytes));
}

void PutUtf16(char32_t cp, WString& out) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Decodes one code point at `i`; returns false on a malformed unit.
bool NextFromUtf16(WStringView text, std::size_t& i, char32_t& cp) {
  const char16_t c = text[i++];
  if (c < 0xD800 || c > 0xDFFF) {
    cp = c;
    return true;
  }
  if (c >= 0xDC00 || i == text.size() || text[i] < 0xDC00 || text[i] > 0xDFFF) return false;
  cp = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(text[i++]) - 0xDC00);
  return true;
}

bool NextFromUtf8(std::string_view text, std::size_t& i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(text[i++]);
  if (b0 < 0x80) {
    cp = b0;
    return true;
  }
  int extra;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, min = 0x80, cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, min = 0x800, cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, min = 0x10000, cp = b0 & 0x07;
  } else {
    return false;
  }
  for (int k = 0; k < extra; ++k) {
    if (i == text.size()) return false;
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
  }
  return cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

// The bytes 0x80-0x9F of Windows-1252; the rest equals Latin-1.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

namespace {

// Four units below 0x80 (in a little-endian word) as their four bytes.
inline std::uint32_t PackAscii(std::uint64_t four) {
  four = (four | (four >> 8)) & 0x0000FFFF0000FFFFull;
  return static_cast<std::uint32_t>(four | (four >> 16));
}

}  // namespace

ResultCode AppendUtf8FromUtf16(WStringView text, std::string& out) {
  const std::size_t start = out.size();
  // Room for a byte a unit, as most of every log line needs; the first unit
  // that needs more makes room for the most the rest can take (three bytes a
  // unit; a pair of units takes four).
  out.resize(start + text.size());
  char* p = out.data() + start;
  bool roomForAll = false;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] < 0x80) {
      if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t words[2];
        while (i + 8 <= text.size() && (std::memcpy(words, text.data() + i, 16),
                                        ((words[0] | words[1]) & 0xFF80FF80FF80FF80ull) == 0)) {
          const std::uint32_t bytes[2] = {PackAscii(words[0]), PackAscii(words[1])};
          std::memcpy(p, bytes, 8);
          p += 8;
          i += 8;
        }
      }
      while (i < text.size() && text[i] < 0x80) *p++ = static_cast<char>(text[i++]);
      continue;
    }
    if (!roomForAll) {
      const std::size_t written = static_cast<std::size_t>(p - out.data());
      out.resize(written + 3 * (text.size() - i));
      p = out.data() + written;
      roomForAll = true;
    }
    char32_t cp;
    if (!NextFromUtf16(text, i, cp)) {
      out.resize(start);
      return RC_INVALID_DATA;
    }
    p = PutUtf8(cp, p);
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
  return 0;
}

ResultCode AppendUtf16FromUtf8(std::string_view text, WString& out) {
  const std::size_t start = out.size();
  out.reserve(start + text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp;
    if (!NextFromUtf8(text, i, cp)) {
      out.resize(start);
      return RC_INVALID_DATA;
    }
    PutUtf16(cp, out);
  }
  return 0;
}

void AppendUtf16FromCp1252(std::string_view text, WString& out) {
  out.reserve(out.size() + text.size());
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b));
  }
}

std::string ToUtf8(WStringView text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp;
    if (!NextFromUtf16(text, i, cp)) cp = 0xFFFD;
    PutUtf8(cp, out);
  }
  return out;
}

WString ToUtf16(std::string_view text) {
  WString out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp;
    if (!NextFromUtf8(text, i, cp)) cp = 0xFFFD;
    PutUtf16(cp, out);
  }
  return out;
}

char16_t UpperCase(char16_t c) {
  if (c < 0x80) return AsciiUpper(c);
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return char16_t(c - 0x20);  // Latin-1
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
    // Latin Extended-A pairs: upper even / lower odd, with two shifted runs.
    const bool shifted = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (shifted ? (c % 2 == 0) : (c % 2 == 1)) return char16_t(c - 1);
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return char16_t(c - 0x20);  // Greek
  if (c >= 0x430 && c <= 0x44F) return char16_t(c - 0x20);                // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return char16_t(c - 0x50);
  return c;
}

bool Utf16LeBytesLess(WStringView a, WStringView b) noexcept {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    const unsigned lowA = a[i] & 0xFFu;
    const unsigned lowB = b[i] & 0xFFu;
    if (lowA != lowB) return lowA < lowB;
    return (a[i] >> 8) < (b[i] >> 8);
  }
  return a.size() < b.size();
}

bool EqualsIgnoreCase(WStringView a, WStringView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && UpperCase(a[i]) != UpperCase(b[i])) return false;
  }
  return true;
}

}  // namespace zun
