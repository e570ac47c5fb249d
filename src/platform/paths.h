#pragma once
// Path rules on UTF-16 texts. Both "\" and "/" separate components, so
// Windows-style names from configuration keep working; only NativePath and
// CreateDirectoryTree touch the system's form of a path.
#include <cstdint>
#include <string>

#include "boundary/result_code.h"
#include "platform/text.h"

namespace zun {

inline bool IsPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The path as the system takes it: UTF-8 with every backslash turned into
// "/". Invalid UTF-16 units become U+FFFD. May throw std::bad_alloc.
std::string NativePath(WStringView path);

}  // namespace zun
