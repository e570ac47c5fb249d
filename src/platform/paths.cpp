#include "platform/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <new>
#include <vector>

#include "platform/file_calls.h"

namespace zun {

namespace {

bool IsDirectory(const std::string& path) {
  struct stat info;
  return Files().stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsDriveForm(WStringView path) { return path.size() >= 2 && path[1] == u':'; }

char16_t JoinSeparator(WStringView text) {
  return text.find(u'/') != WStringView::npos && text.find(u'\\') == WStringView::npos ? u'/' : u'\\';
}

}  // namespace

std::string NativePath(WStringView path) {
  std::string native = ToUtf8(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

ResultCode ToNativePath(WStringView path, std::string* out) noexcept {
  if (path.find(u'\0') != WStringView::npos) return RC_INVALID_PARAMETER;
  try {
    *out = NativePath(path);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  return RC_OK;
}

bool IsAbsolutePath(WStringView path) {
  const std::size_t n = path.size();
  if (n == 2 && path[1] == u':') return true;
  if (n >= 3 && path[1] == u':' && IsPathSeparator(path[2])) return true;
  return n >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
}

std::size_t PathRootLength(WStringView path) {
  const std::size_t n = path.size();
  if (IsDriveForm(path)) return n >= 3 && IsPathSeparator(path[2]) ? 3 : 2;
  if (n >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    std::size_t serverEnd = 2;
    while (serverEnd < n && !IsPathSeparator(path[serverEnd])) ++serverEnd;
    if (serverEnd == n) return n;
    std::size_t shareEnd = serverEnd + 1;
    while (shareEnd < n && !IsPathSeparator(path[shareEnd])) ++shareEnd;
    return shareEnd;
  }
  return n >= 1 && IsPathSeparator(path[0]) ? 1 : 0;
}

WStringView ParentPart(WStringView path) {
  const std::size_t n = path.size();
  if (n == 0) return path.substr(0, 0);
  std::size_t i = n - 1;
  while (i > 0 && !IsPathSeparator(path[i])) --i;
  if (i == 0) return path.substr(0, IsPathSeparator(path[0]) ? 1 : 0);
  // "a\\b" has the parent "a": the whole run of separators goes.
  std::size_t end = i;
  while (end > 0 && IsPathSeparator(path[end - 1])) --end;
  if (end == 0) return path.substr(0, 1);
  // The parent of "D:\x" is "D:\", not the drive-relative "D:".
  if (end >= 2 && path[end - 1] == u':') return path.substr(0, end + 1);
  return path.substr(0, end);
}

ResultCode CombinePath(WStringView folder, WStringView name, WString* out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  try {
    WString result;
    if (name.empty()) {
      result.assign(folder);
    } else if (folder.empty() || IsAbsolutePath(name)) {
      result.assign(name);
    } else if (IsPathSeparator(name[0])) {
      // One leading separator: the root of the folder's drive, if it has one.
      if (IsAbsolutePath(folder) && IsDriveForm(folder)) {
        std::size_t root = PathRootLength(folder);
        if (IsPathSeparator(folder[root - 1])) --root;
        result.reserve(root + name.size());
        result.assign(folder.substr(0, root));
        result.append(name);
      } else {
        result.assign(name);
      }
    } else {
      result.reserve(folder.size() + 1 + name.size());
      result.assign(folder);
      if (!IsPathSeparator(folder.back())) result.push_back(JoinSeparator(folder));
      result.append(name);
    }
    *out = std::move(result);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  return RC_OK;
}

bool DirectoryExists(WStringView path) noexcept {
  std::string native;
  return Succeeded(ToNativePath(path, &native)) && IsDirectory(native);
}

ResultCode CreateDirectoryTree(WStringView path, std::optional<std::uint32_t> mode) {
  if (path.empty() || path.find(u'\0') != WStringView::npos) return RC_INVALID_PARAMETER;
  WStringView target = path;
  if (target.size() > PathRootLength(target) && IsPathSeparator(target.back())) target.remove_suffix(1);

  // All names are converted before the first directory is made, so that
  // nothing below can fail for memory while there is something to undo.
  std::vector<std::string> missing;
  std::vector<std::string> created;
  std::string nativeTarget;
  try {
    nativeTarget = NativePath(target);
    WStringView current = target;
    for (;;) {
      const WStringView parent = ParentPart(current);
      // Roots (a drive, a share, "/") are never made, and the walk ends at
      // the first component of a relative path.
      if (parent.empty() || parent.size() >= current.size() || parent.size() <= PathRootLength(parent)) break;
      std::string native = NativePath(parent);
      if (IsDirectory(native)) break;
      missing.push_back(std::move(native));
      current = parent;
    }
    created.reserve(missing.size() + 1);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }

  // Only folders this call made go again, and only while empty: another
  // process may have put its own folder or an open log in one meanwhile.
  const FileCalls& calls = Files();
  auto undo = [&created, &calls](int error) {
    for (auto it = created.rbegin(); it != created.rend(); ++it) calls.rmdir(it->c_str());
    return ResultFromErrno(error);
  };

  // Another process making the same log folder at the same moment is
  // expected: a folder that appears meanwhile counts as made.
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (calls.mkdir(it->c_str(), 0777) == 0) {
      created.push_back(std::move(*it));
      continue;
    }
    const int error = errno;
    if (error == EEXIST && IsDirectory(*it)) continue;
    return undo(error);
  }
  const std::uint32_t targetMode = mode.has_value() ? (*mode & 07777) : 0777;
  if (calls.mkdir(nativeTarget.c_str(), targetMode) != 0) {
    const int error = errno;
    return error == EEXIST && IsDirectory(nativeTarget) ? RC_OK : undo(error);
  }
  created.push_back(std::move(nativeTarget));
  if (mode.has_value() && calls.chmod(created.back().c_str(), targetMode) != 0) return undo(errno);
  return RC_OK;
}

}  // namespace zun
