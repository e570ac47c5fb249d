#pragma once
// Walks the entries of one folder whose names match a wildcard pattern. A
// listing object is used by one thread at a time.
#include <cstdint>
#include <string>

#include "base/result_code.h"
#include "base/text.h"
#include "platform/clock.h"

namespace zun {

// Filter flags of DirectoryListing::Open.
inline constexpr std::uint32_t kListDotDot = 1;   // the ".." entry of a folder
inline constexpr std::uint32_t kListDot = 2;      // the "." entry of a folder
inline constexpr std::uint32_t kListFolders = 4;  // folders
inline constexpr std::uint32_t kListFiles = 8;    // entries that are not folders
inline constexpr std::uint32_t kListLinks = 16;   // symbolic links; without it they are skipped

// Entry attributes, in the bit layout the rest of the library expects.
inline constexpr std::uint32_t kAttributeReadOnly = 0x1;  // no write permission bit
inline constexpr std::uint32_t kAttributeHidden = 0x2;    // a name that starts with "."
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeNormal = 0x80;         // none of the others
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;  // a symbolic link

inline constexpr std::size_t kMaxEntryName = 260;

struct DirectoryEntry {
  std::uint32_t attributes = 0;
  FileTime creationTime = 0;
  FileTime lastAccessTime = 0;
  FileTime lastWriteTime = 0;
  FileTime changeTime = 0;
  std::uint64_t endOfFile = 0;
  std::uint64_t allocationSize = 0;
  char16_t name[kMaxEntryName + 1] = {};  // zero-terminated
  char16_t shortName[13] = {};            // always empty: Linux has no short names
};

// Whether `name` matches `pattern` without regard to case: "*" matches any
// run of units, "?" exactly one. An empty pattern matches everything.
bool MatchesWildcard(WStringView pattern, WStringView name);

class DirectoryListing {
 public:
  DirectoryListing() = default;
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // Closes an open listing, then opens `folder` ("\" or "/") and remembers
  // the pattern and filter. A failure leaves the listing closed.
  ResultCode Open(WStringView folder, WStringView pattern, std::uint32_t filter);
  // Restart and move to the first entry the filter keeps; Next moves on.
  // Both give RC_INFO_NOTHING_TO_DO when no entry is left, and again on
  // every later call. RC_INVALID_HANDLE when closed.
  ResultCode First();
  ResultCode Next();
  // The entry of the last First or Next that returned RC_OK.
  const DirectoryEntry& Current() const { return current_; }
  // Deletes that entry (a file or a link, never a folder); the walk goes on
  // with Next. RC_INVALID_HANDLE when there is no current entry.
  ResultCode RemoveCurrent();
  void Close();
  bool IsOpen() const { return dir_ != nullptr; }

 private:
  ResultCode Advance();

  void* dir_ = nullptr;  // DIR*, kept opaque so that users need no system header
  std::string folder_;   // native form, for building entry paths
  std::string entryPath_;
  WString pattern_;
  WString name_;
  std::uint32_t filter_ = 0;
  bool started_ = false;
  bool atEnd_ = false;
  bool hasCurrent_ = false;  // a file or link RemoveCurrent may delete
  DirectoryEntry current_;
};

}  // namespace zun
