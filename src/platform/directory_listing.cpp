#include "platform/directory_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/file_calls.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace zun {

bool MatchesWildcard(WStringView pattern, WStringView name) {
  if (pattern.empty()) return true;
  // Greedy scan that backs up to the last "*" on a mismatch: each star only
  // ever swallows one more unit, so the walk stays linear per star.
  std::size_t p = 0, n = 0;
  std::size_t star = WStringView::npos, starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      starName = n;
    } else if (p < pattern.size() && (pattern[p] == u'?' || UpperCase(pattern[p]) == UpperCase(name[n]))) {
      ++p;
      ++n;
    } else if (star != WStringView::npos) {
      p = star + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

DirectoryListing::~DirectoryListing() { Close(); }

ResultCode DirectoryListing::Open(WStringView folder, WStringView pattern, std::uint32_t filter) {
  Close();
  if (folder.find(u'\0') != WStringView::npos) return RC_INVALID_PARAMETER;
  try {
    folder_ = NativePath(folder);
    pattern_.assign(pattern);
  } catch (const std::bad_alloc&) {
    folder_.clear();
    return RC_OUT_OF_MEMORY;
  }
  const int fd = OpenDescriptor(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd >= 0 ? Files().fdopendir(fd) : nullptr;
  if (dir == nullptr) {
    const int error = errno;
    if (fd >= 0) Files().close(fd);
    folder_.clear();
    return ResultFromErrno(error);
  }
  dir_ = dir;
  filter_ = filter;
  started_ = false;
  atEnd_ = false;
  return RC_OK;
}

void DirectoryListing::Close() {
  if (dir_ != nullptr) Files().closedir(static_cast<DIR*>(dir_));
  dir_ = nullptr;
  hasCurrent_ = false;
  started_ = false;
  atEnd_ = false;
}

ResultCode DirectoryListing::First() {
  if (dir_ == nullptr) return RC_INVALID_HANDLE;
  rewinddir(static_cast<DIR*>(dir_));
  started_ = true;
  atEnd_ = false;
  return Advance();
}

ResultCode DirectoryListing::Next() {
  if (dir_ == nullptr) return RC_INVALID_HANDLE;
  if (!started_) return First();
  if (atEnd_) return RC_INFO_NOTHING_TO_DO;
  return Advance();
}

ResultCode DirectoryListing::Advance() {
  hasCurrent_ = false;
  DIR* dir = static_cast<DIR*>(dir_);
  const int dirFd = dirfd(dir);
  for (;;) {
    errno = 0;
    const dirent* entry = Files().readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) return ResultFromErrno(errno);
      atEnd_ = true;
      return RC_INFO_NOTHING_TO_DO;
    }
    const char* raw = entry->d_name;
    try {
      name_ = ToUtf16(raw);
      entryPath_.assign(folder_);
      if (entryPath_.empty() || entryPath_.back() != '/') entryPath_.push_back('/');
      entryPath_.append(raw);
    } catch (const std::bad_alloc&) {
      return RC_OUT_OF_MEMORY;
    }
    if (!MatchesWildcard(pattern_, name_)) continue;

    bool isLink = entry->d_type == DT_LNK;
    bool isFolder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat info;
      if (fstatat(dirFd, raw, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
      isLink = S_ISLNK(info.st_mode);
      isFolder = S_ISDIR(info.st_mode);
    }
    if (isLink) {
      if ((filter_ & kListLinks) == 0) continue;
      // A link to a folder counts as a folder, as a directory link does on
      // the original platform; a dangling link is a plain entry.
      struct stat target;
      isFolder = fstatat(dirFd, raw, &target, 0) == 0 && S_ISDIR(target.st_mode);
    }
    const bool isDot = std::strcmp(raw, ".") == 0;
    const bool isDotDot = std::strcmp(raw, "..") == 0;
    if (isFolder) {
      if ((filter_ & kListFolders) == 0) continue;
      if (isDot && (filter_ & kListDot) == 0) continue;
      if (isDotDot && (filter_ & kListDotDot) == 0) continue;
    } else if ((filter_ & kListFiles) == 0) {
      continue;
    }

    FileFacts facts;
    const ResultCode rc = ReadFileFactsAt(dirFd, raw, entryPath_.c_str(), false, &facts);
    if (rc == RC_FILE_NOT_FOUND) continue;  // removed between readdir and statx
    if (Failed(rc)) return rc;

    std::uint32_t attributes = 0;
    if ((facts.mode & 0222) == 0) attributes |= kAttributeReadOnly;
    if (raw[0] == '.' && !isDot && !isDotDot) attributes |= kAttributeHidden;
    if (isFolder) attributes |= kAttributeDirectory;
    if (isLink) attributes |= kAttributeReparsePoint;
    current_.attributes = attributes != 0 ? attributes : kAttributeNormal;
    current_.creationTime = facts.creationTime;
    current_.lastAccessTime = facts.lastAccessTime;
    current_.lastWriteTime = facts.lastWriteTime;
    current_.changeTime = facts.changeTime;
    current_.endOfFile = facts.size;
    current_.allocationSize = facts.allocatedSize;
    const std::size_t length = std::min(name_.size(), kMaxEntryName);
    std::copy_n(name_.data(), length, current_.name);
    current_.name[length] = 0;
    current_.shortName[0] = 0;
    hasCurrent_ = !isFolder;
    return RC_OK;
  }
}

ResultCode DirectoryListing::RemoveCurrent() {
  if (dir_ == nullptr || !hasCurrent_) return RC_INVALID_HANDLE;
  if (Files().unlink(entryPath_.c_str()) != 0) return ResultFromErrno(errno);
  return RC_OK;
}

}  // namespace zun
