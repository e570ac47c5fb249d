#include "config/log_locations.h"

#include <new>
#include <string>

#include "platform/names.h"
#include "platform/paths.h"
#include "platform/process_info.h"
#include "platform/special_folders.h"

namespace zun {

namespace {

constexpr char16_t kLogPart[] = u"log";
constexpr char16_t kInstancePart[] = u"tower17";

void AppendPart(WString& path, WStringView part) {
  if (!path.empty() && !IsPathSeparator(path.back())) {
    const bool slash = path.find(u'/') != WString::npos && path.find(u'\\') == WString::npos;
    path.push_back(slash ? u'/' : u'\\');
  }
  path.append(part);
}

// The executable's file name after the last ":", "\" or "/", cut before
// its last ".".
ResultCode ProcessName(WString* out) {
  WString image;
  const ResultCode rc = GetProcessImagePath(&image);
  if (Failed(rc)) return rc;
  WStringView name = image;
  const std::size_t folderEnd = name.find_last_of(u":\\/");
  if (folderEnd != WStringView::npos) name.remove_prefix(folderEnd + 1);
  out->assign(name.substr(0, name.rfind(u'.')));
  return RC_OK;
}

ResultCode ProcessIdText(WString* out) {
  *out = ToUtf16(std::to_string(CurrentProcessId()));
  return RC_OK;
}

struct Variable {
  WStringView name;
  ResultCode (*value)(WString* out);
};

constexpr Variable kVariables[] = {
    {u"process", ProcessName},
    {u"user", GetAccountName},
    {u"home", [](WString* out) { return GetSpecialFolder(kFolderProfile, out); }},
    {u"pid", ProcessIdText},
    {u"hostname", GetHostName},
    {u"winlocalappdata", [](WString* out) { return GetSpecialFolder(kFolderLocalAppData, out); }},
};

ResultCode AppendVariable(WStringView name, WString& text) {
  for (const Variable& variable : kVariables) {
    if (variable.name != name) continue;
    WString value;
    const ResultCode rc = variable.value(&value);
    if (Failed(rc)) return rc;
    text.append(value);
    return RC_OK;
  }
  return RC_INVALID_DATA;
}

}  // namespace

ResultCode GetLogLocation(std::uint32_t kind, WStringView user, WStringView firstPart, WStringView secondPart,
                          WString* out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  SpecialFolderKind folder = 0;
  switch (kind) {
    case kLogLocationCommonAppData:
      folder = kFolderCommonAppData;
      break;
    case kLogLocationAppData:
      folder = kFolderAppData;
      break;
    case kLogLocationLocalAppData:
      folder = kFolderLocalAppData;
      break;
    default:
      return RC_NOT_SUPPORTED;
  }
  try {
    WString path;
    const ResultCode rc =
        user.empty() ? GetSpecialFolder(folder, &path) : GetUserSpecialFolder(folder, user, {}, &path);
    if (Failed(rc)) return rc;
    AppendPart(path, u"Zun");
    if (!firstPart.empty()) AppendPart(path, firstPart);
    AppendPart(path, secondPart);
    out->swap(path);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode StandardLogFolder(WString* out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  WString path;
  ResultCode rc = GetLogLocation(kLogLocationLocalAppData, {}, kLogPart, kInstancePart, &path);
  if (Failed(rc)) return rc;
  // The folder keeps the permissions it is made with: there is no access
  // list to extend on this system.
  rc = CreateDirectoryTree(path);
  // A file in the way gives the same code as the folder itself.
  if (Failed(rc) && (rc != RC_ALREADY_EXISTS || !DirectoryExists(path))) return rc;
  out->swap(path);
  return RC_OK;
}

ResultCode SharedLogFolder(WString* out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  WString path;
  if (Succeeded(GetLogLocation(kLogLocationCommonAppData, {}, kLogPart, kInstancePart, &path)) &&
      DirectoryExists(path)) {
    out->swap(path);
    return RC_OK;
  }
  WString module;
  const ResultCode rc = GetLibraryModulePath(&module);
  if (Failed(rc)) return rc;
  try {
    out->assign(ParentPart(module));
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ExpandVariables(WStringView text, WString* out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  enum class State { kPlain, kDollar, kName };
  try {
    WString result;
    result.reserve(text.size());
    State state = State::kPlain;
    std::size_t nameStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char16_t c = text[i];
      if (state == State::kPlain) {
        if (c == u'$') {
          state = State::kDollar;
        } else {
          result.push_back(c);
        }
      } else if (state == State::kDollar) {
        if (c == u'{') {
          state = State::kName;
          nameStart = i + 1;
          continue;
        }
        if (c != u'$') result.push_back(u'$');  // "$$" gives one "$"
        result.push_back(c);
        state = State::kPlain;
      } else if (c == u'}') {
        const ResultCode rc = AppendVariable(text.substr(nameStart, i - nameStart), result);
        if (Failed(rc)) return rc;
        state = State::kPlain;
      }
    }
    if (state == State::kDollar) result.push_back(u'$');
    if (state == State::kName) result.append(text.substr(nameStart - 2));
    out->swap(result);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
