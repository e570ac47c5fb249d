#pragma once
// The standard folders of logs and shared configuration, and the ${name}
// variables of configuration values. Nothing here keeps state: every call
// may run on any thread, and variable values are computed at each
// expansion.
#include <cstdint>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

// Kinds of GetLogLocation.
inline constexpr std::uint32_t kLogLocationCommonAppData = 12;  // machine-wide
inline constexpr std::uint32_t kLogLocationAppData = 13;        // the user's roaming data
inline constexpr std::uint32_t kLogLocationLocalAppData = 14;   // the user's local data

// <special folder of kind>, "Zun", `firstPart` (left out when empty) and
// `secondPart` (its separator is added even when it is empty), joined with
// one separator each: "/" when the text so far holds a "/" and no
// backslash, else a backslash, and none after a text that ends in one.
// An empty `user` means the process's user; another user's folder is built
// from that user's profile folder. Codes: RC_NOT_SUPPORTED for another
// kind; the special folder's failure; RC_OUT_OF_MEMORY.
ResultCode GetLogLocation(std::uint32_t kind, WStringView user, WStringView firstPart, WStringView secondPart,
                          WString* out);

// The per-user log folder (<local data>/Zun/log/tower17), created with its
// missing parents; a folder that exists already is a success. Codes: those
// of GetLogLocation, or the creation's failure (nothing is left created);
// RC_ALREADY_EXISTS when a file stands where the folder or a parent should.
ResultCode StandardLogFolder(WString* out);

// The machine-wide folder <common data>/Zun/log/tower17 when it is a
// directory, else the folder of the file that holds the library's code.
// Creates nothing. Codes: the module path's failure when the shared folder
// is not there; RC_OUT_OF_MEMORY.
ResultCode SharedLogFolder(WString* out);

// `text` with its ${name} variables replaced, in one pass from left to
// right: "$$" gives "$"; a "$" not followed by "$" or "{" stays; an
// unfinished "${..." at the end stays as written; no nesting (the name is
// everything up to the first "}"). Names, case-sensitive: process, user,
// home, pid, hostname, winlocalappdata. Codes: RC_INVALID_DATA for any
// other name; the failure of determining a value, unchanged;
// RC_OUT_OF_MEMORY. `out` may view the same text as `text` and is changed
// only on success.
ResultCode ExpandVariables(WStringView text, WString* out);

}  // namespace zun
