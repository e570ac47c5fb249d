#include "platform/special_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "base/spin_lock.h"
#include "platform/paths.h"

namespace zun {

namespace {

enum class SourceType : std::uint8_t { kNone, kEnvironment, kProfile, kAccountHome, kFixed };

// One place a folder may come from. kEnvironment: the variable, with
// `path` appended when given; kProfile: `path` under the profile folder;
// kFixed: `path` itself.
struct FolderSource {
  SourceType type = SourceType::kNone;
  const char* variable = nullptr;
  const char16_t* path = nullptr;
};

struct FolderRule {
  bool machineWide = false;
  FolderSource sources[3];
};

constexpr FolderSource Env(const char* variable, const char16_t* under = nullptr) {
  return {SourceType::kEnvironment, variable, under};
}
constexpr FolderSource Profile(const char16_t* path) { return {SourceType::kProfile, nullptr, path}; }
constexpr FolderSource Fixed(const char16_t* path) { return {SourceType::kFixed, nullptr, path}; }

constexpr FolderRule kProfileRule{false, {Env("USERPROFILE"), Env("HOME"), {SourceType::kAccountHome}}};
constexpr FolderRule kDesktopRule{false, {Env("XDG_DESKTOP_DIR"), Profile(u"Desktop")}};
constexpr FolderRule kAppDataRule{false, {Env("XDG_CONFIG_HOME"), Profile(u".config"), Env("APPDATA")}};
constexpr FolderRule kCommonStartupRule{true, {Fixed(u"/etc/xdg/autostart")}};
constexpr FolderRule kStartupRule{false,
                                  {Env("XDG_CONFIG_HOME", u"autostart"), Profile(u".config/autostart")}};
constexpr FolderRule kDocumentsRule{false, {Env("XDG_DOCUMENTS_DIR"), Profile(u"Documents")}};
constexpr FolderRule kCommonDocumentsRule{true, {}};
constexpr FolderRule kCommonAppDataRule{true, {Env("ALLUSERSPROFILE"), Fixed(u"/var/lib")}};
constexpr FolderRule kLocalAppDataRule{
    false, {Env("XDG_STATE_HOME"), Profile(u".local/state"), Env("LOCALAPPDATA")}};

// Null for the system kinds and kinds out of range.
const FolderRule* RuleOf(SpecialFolderKind kind) {
  switch (kind) {
    case kFolderProfile:
      return &kProfileRule;
    case kFolderDesktop:
      return &kDesktopRule;
    case kFolderAppData:
      return &kAppDataRule;
    case kFolderCommonStartup:
      return &kCommonStartupRule;
    case kFolderStartup:
      return &kStartupRule;
    case kFolderDocuments:
      return &kDocumentsRule;
    case kFolderCommonDocuments:
      return &kCommonDocumentsRule;
    case kFolderCommonAppData:
      return &kCommonAppDataRule;
    case kFolderLocalAppData:
      return &kLocalAppDataRule;
    default:
      return nullptr;
  }
}

// The profile comes first: the other kinds are built on it.
constexpr SpecialFolderKind kPassOrder[] = {
    kFolderProfile, kFolderCommonStartup, kFolderStartup, kFolderCommonDocuments, kFolderDocuments,
    kFolderDesktop, kFolderCommonAppData, kFolderAppData, kFolderLocalAppData};

// RC_OK when `candidate` can be a folder; relative and empty values (an
// unset XDG variable is often set empty) are no folder at all.
ResultCode CheckFolder(const WString& candidate) {
  if (candidate.empty() || candidate[0] != u'/') return RC_LOCATION_NOT_FOUND;
  return candidate.size() > kMaxSpecialFolderLength ? RC_INSUFFICIENT_BUFFER : RC_OK;
}

// The first usable source of `rule`. `profile` is null when there is none;
// `environment` false skips the variables (another user's folders).
ResultCode Resolve(const FolderRule& rule, const WString* profile, bool environment, WString* out) {
  ResultCode rc = RC_LOCATION_NOT_FOUND;
  for (const FolderSource& source : rule.sources) {
    WString candidate;
    switch (source.type) {
      case SourceType::kNone:
        continue;
      case SourceType::kEnvironment:
        if (!environment || !ReadEnvironmentVariable(source.variable, &candidate)) continue;
        if (source.path != nullptr && !candidate.empty() &&
            Failed(CombinePath(candidate, source.path, &candidate))) {
          return RC_OUT_OF_MEMORY;
        }
        break;
      case SourceType::kProfile:
        if (profile == nullptr) continue;
        if (Failed(CombinePath(*profile, source.path, &candidate))) return RC_OUT_OF_MEMORY;
        break;
      case SourceType::kAccountHome: {
        AccountEntry entry;
        if (Failed(LookUpAccount({}, &entry))) continue;
        candidate = std::move(entry.home);
        break;
      }
      case SourceType::kFixed:
        candidate = source.path;
        break;
    }
    const ResultCode checked = CheckFolder(candidate);
    if (checked == RC_OK) {
      *out = std::move(candidate);
      return RC_OK;
    }
    // A path too long is worth reporting over one that is missing.
    if (checked == RC_INSUFFICIENT_BUFFER) rc = checked;
  }
  return rc;
}

// One slot per kind. A slot is filled once, under gUserFolders, text first
// and then its length; it never changes after, so a reader that sees the
// length may read the text without a lock.
struct FolderSlot {
  std::atomic<std::uint32_t> length{0};  // 0: empty
  char16_t text[kMaxSpecialFolderLength + 2] = {};
};

constinit FolderSlot gSlots[kLastSpecialFolderKind + 1];
constinit SpinLock gUserFolders;

bool ReadSlot(SpecialFolderKind kind, WString* out) {
  const std::uint32_t length = gSlots[kind].length.load(std::memory_order_acquire);
  if (length == 0) return false;
  out->assign(gSlots[kind].text, length);
  return true;
}

void FillSlot(SpecialFolderKind kind, const WString& value) {
  FolderSlot& slot = gSlots[kind];
  value.copy(slot.text, value.size());
  slot.text[value.size()] = 0;
  slot.length.store(static_cast<std::uint32_t>(value.size()), std::memory_order_release);
}

// Computes every empty slot; returns the code of `requested`'s computation
// (RC_OK when it was filled already). Under gUserFolders.
ResultCode FillEmptySlots(SpecialFolderKind requested) {
  ResultCode requestedRc = RC_OK;
  WString profile;  // stays empty when there is none
  ReadSlot(kFolderProfile, &profile);
  for (const SpecialFolderKind kind : kPassOrder) {
    if (gSlots[kind].length.load(std::memory_order_relaxed) != 0) continue;
    WString value;
    const ResultCode rc = Resolve(*RuleOf(kind), profile.empty() ? nullptr : &profile, true, &value);
    if (rc == RC_OK) {
      FillSlot(kind, value);
      if (kind == kFolderProfile) profile = value;
    }
    if (kind == requested) requestedRc = rc;
  }
  return requestedRc;
}

bool IsDecimal(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// getpw*_r with `buffer`, which holds the entry's texts, grown until they
// fit. Returns the call's error; `found` is null when there is no entry.
template <typename Call>
int ReadPasswordEntry(Call call, std::vector<char>& buffer, passwd* entry, passwd** found) {
  for (;;) {
    *found = nullptr;
    const int error = call(entry, buffer.data(), buffer.size(), found);
    if (error != ERANGE || buffer.size() >= (1u << 20)) return error;
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

bool ReadEnvironmentVariable(const char* name, WString* out) {
  const char* value = std::getenv(name);
  if (value == nullptr) return false;
  *out = ToUtf16(value);
  return true;
}

ResultCode LookUpAccount(WStringView user, AccountEntry* out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  try {
    std::string name;
    // No account has a name that is not text.
    if (user.find(u'\0') != WStringView::npos || Failed(AppendUtf8FromUtf16(user, name))) {
      return RC_LOCATION_NOT_FOUND;
    }
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 1024);
    passwd entry{};
    passwd* found = nullptr;
    const auto byId = [](uid_t id) {
      return [id](passwd* e, char* b, std::size_t n, passwd** f) { return getpwuid_r(id, e, b, n, f); };
    };
    int error = 0;
    if (name.empty()) {
      error = ReadPasswordEntry(byId(geteuid()), buffer, &entry, &found);
    } else {
      error = ReadPasswordEntry([&name](passwd* e, char* b, std::size_t n,
                                        passwd** f) { return getpwnam_r(name.c_str(), e, b, n, f); },
                                buffer, &entry, &found);
      uid_t id = 0;
      if (found == nullptr && IsDecimal(name) &&
          std::from_chars(name.data(), name.data() + name.size(), id).ec == std::errc()) {
        error = ReadPasswordEntry(byId(id), buffer, &entry, &found);
      }
    }
    if (found == nullptr) {
      // These mean "no such entry" to the password functions.
      if (error == 0 || error == ENOENT || error == ESRCH || error == EBADF || error == EPERM) {
        return RC_LOCATION_NOT_FOUND;
      }
      return ResultFromErrno(error);
    }
    AccountEntry result;
    result.name = ToUtf16(found->pw_name != nullptr ? found->pw_name : "");
    result.home = ToUtf16(found->pw_dir != nullptr ? found->pw_dir : "");
    *out = std::move(result);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode GetSpecialFolder(SpecialFolderKind kind, WString* out) {
  if (out == nullptr || kind > kLastSpecialFolderKind) return RC_INVALID_PARAMETER;
  if (RuleOf(kind) == nullptr) return RC_NOT_SUPPORTED;
  try {
    if (ReadSlot(kind, out)) return RC_OK;
    ResultCode rc = RC_OK;
    {
      SpinLockGuard guard(gUserFolders);
      rc = FillEmptySlots(kind);
    }
    if (ReadSlot(kind, out)) return RC_OK;
    return Failed(rc) ? rc : RC_LOCATION_NOT_FOUND;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode GetUserProfileFolder(WStringView user, WString* out) {
  if (out == nullptr || user.empty()) return RC_INVALID_PARAMETER;
  AccountEntry entry;
  const ResultCode rc = LookUpAccount(user, &entry);
  if (Failed(rc)) return rc;
  if (entry.home.empty() || entry.home[0] != u'/') return RC_LOCATION_NOT_FOUND;
  out->swap(entry.home);
  return RC_OK;
}

ResultCode GetUserSpecialFolder(SpecialFolderKind kind, WStringView user, WStringView profilePath,
                                WString* out) {
  if (out == nullptr || kind > kLastSpecialFolderKind) return RC_INVALID_PARAMETER;
  const FolderRule* rule = RuleOf(kind);
  if (rule == nullptr) return RC_NOT_SUPPORTED;
  if (rule->machineWide) return GetSpecialFolder(kind, out);
  try {
    WString profile(profilePath);
    if (profile.empty()) {
      const ResultCode rc = GetUserProfileFolder(user, &profile);
      if (Failed(rc)) return rc;
    }
    if (kind == kFolderProfile) {
      const ResultCode rc = CheckFolder(profile);
      if (rc == RC_OK) out->swap(profile);
      return rc;
    }
    return Resolve(*rule, &profile, false, out);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
