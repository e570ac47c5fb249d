#pragma once
// Changing the names of files: renames that never replace a file, deletions,
// and new files that appear under their name already whole. Paths may use
// "\" or "/" as separator. Safe on any thread. The calls go through the
// file-call table (platform/file_calls.h).
#include <string_view>

#include "base/result_code.h"
#include "base/text.h"
#include "platform/clock.h"

namespace zun {

// Gives `from` the name `to` unless `to` exists: RC_ALREADY_EXISTS then, and
// both files stay as they are. RC_FILE_NOT_FOUND when `from` is missing. A
// file system that cannot rename without replacing gets a hard link and the
// removal of the old name, or, without hard links, a placeholder created
// exclusively and renamed over; across file systems the file is copied
// (with its creation time) and the original deleted.
ResultCode MoveFileNoReplace(WStringView from, WStringView to) noexcept;

// Removes the name; processes that hold the file open keep it until they
// close it.
ResultCode DeleteFile(WStringView path) noexcept;

// Creates `path` exclusively with `content` and `creationTime` as its
// creation time. RC_ALREADY_EXISTS when the name is taken; any other failure
// removes what was created. Where the file system keeps no user attributes,
// the file keeps the birth time the system gave it.
ResultCode CreateFileWithContent(WStringView path, std::string_view content, FileTime creationTime) noexcept;

}  // namespace zun
