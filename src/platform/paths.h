#pragma once
// Path rules on UTF-16 texts. Both "\" and "/" separate components, so
// Windows-style names from configuration keep working; only NativePath and
// CreateDirectoryTree touch the system's form of a path. All functions are
// safe to call from any thread.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

inline bool IsPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The path as the system takes it: UTF-8 with every backslash turned into
// "/". Invalid UTF-16 units become U+FFFD. May throw std::bad_alloc.
std::string NativePath(WStringView path);
// NativePath as a result code: RC_INVALID_PARAMETER for a text holding a
// zero (the system would stop there and open another name),
// RC_OUT_OF_MEMORY when the copy cannot be made.
ResultCode ToNativePath(WStringView path, std::string* out) noexcept;

// A drive ("D:", "D:\x", "D:/x") or a text that starts with two separators
// (a share or a native path). A single leading separator is not absolute.
bool IsAbsolutePath(WStringView path);

// Units that form the root: 3 for "D:\", 2 for "D:" or "D:x", "\\srv\share"
// for a share, 1 for one leading separator, 0 otherwise.
std::size_t PathRootLength(WStringView path);

// The folder part of `path`, a view into the same text: "D:\logs" for
// "D:\logs\a.log", "D:\" for "D:\a.log", "\" for "\a", empty for "a.log".
WStringView ParentPart(WStringView path);

// `name` joined to `folder`. An absolute name, or an empty folder, gives the
// name; a name with one leading separator lands on the folder's drive; the
// separator inserted is "/" when the folder holds "/" and no backslash, else
// "\". `out` may be the text that either view looks at. Fails only with
// RC_OUT_OF_MEMORY.
ResultCode CombinePath(WStringView folder, WStringView name, WString* out);

// True when `path` names a directory (a final link followed); false when
// it does not or cannot be examined.
bool DirectoryExists(WStringView path) noexcept;

// Creates the folder `path` with every missing parent. The parents get the
// default permissions (0777 less the umask); a folder this call makes itself
// gets exactly `mode` when one is given. A folder that exists already, or
// that another process makes meanwhile, counts as made (RC_OK, its mode
// unchanged); a file of that name gives RC_ALREADY_EXISTS. On failure the
// folders this call made are removed again while they are empty, and the
// converted system error is returned.
ResultCode CreateDirectoryTree(WStringView path, std::optional<std::uint32_t> mode = std::nullopt);

}  // namespace zun
