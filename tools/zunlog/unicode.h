#pragma once
// Text conversions at the tool's edges: the library speaks UTF-16, the
// terminal and files UTF-8 (configuration files also UTF-16 and
// Windows-1252).
#include <string>
#include <string_view>

namespace zunlog {

// Invalid bytes become U+FFFD each.
std::u16string Utf8ToUtf16(std::string_view text);
// A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
bool IsValidUtf8(std::string_view text);

// A configuration file's bytes as the library reads them: by its byte-order
// mark (UTF-16LE, UTF-16BE, UTF-8), else UTF-8 when the whole file is valid
// UTF-8, else Windows-1252.
std::u16string DecodeConfigurationBytes(std::string_view bytes);

}  // namespace zunlog
