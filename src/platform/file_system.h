#pragma once
// Facts about files that several services read: their four times and sizes.
// Linux cannot set a file's birth time, so the library keeps the creation
// time of the files it makes in an extended attribute that travels with the
// file through renames.
#include <cstdint>

#include "base/result_code.h"
#include "base/text.h"
#include "platform/clock.h"

namespace zun {

// Value: the FileTime as 8 bytes, least significant first.
inline constexpr char kCreationTimeAttribute[] = "user.zunlogx.created";

struct FileFacts {
  FileTime creationTime = 0;
  FileTime lastAccessTime = 0;
  FileTime lastWriteTime = 0;
  FileTime changeTime = 0;
  std::uint64_t size = 0;
  std::uint64_t allocatedSize = 0;
  std::uint32_t mode = 0;  // st_mode: type and permission bits
};

// The facts of `path`, following a final link when `followLinks`. The
// creation time is the library's attribute, else the birth time, else the
// change time.
ResultCode ReadFileFacts(WStringView path, bool followLinks, FileFacts* out);
// The same for `name` inside the open folder `dirFd`; `fullPath` names the
// same entry for the attribute read, which has no folder-relative call.
ResultCode ReadFileFactsAt(int dirFd, const char* name, const char* fullPath, bool followLinks,
                           FileFacts* out);

// Records `time` as the creation time of the file at `path` (a final link
// is followed). RC_NOT_SUPPORTED where the file system keeps no user
// attributes.
ResultCode WriteCreationTime(WStringView path, FileTime time);

}  // namespace zun
