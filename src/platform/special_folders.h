#pragma once
// Special folders and user profiles: where the per-user and machine-wide
// application data live, read from the environment and the password
// database. All environment and password-database reads of the library are
// made here.
#include <cstddef>
#include <cstdint>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

using SpecialFolderKind = std::uint32_t;

inline constexpr SpecialFolderKind kFolderProfile = 0;
inline constexpr SpecialFolderKind kFolderDesktop = 1;
inline constexpr SpecialFolderKind kFolderAppData = 2;  // roaming
inline constexpr SpecialFolderKind kFolderCommonStartup = 13;
inline constexpr SpecialFolderKind kFolderStartup = 14;
inline constexpr SpecialFolderKind kFolderDocuments = 15;
inline constexpr SpecialFolderKind kFolderCommonDocuments = 16;
inline constexpr SpecialFolderKind kFolderCommonAppData = 20;
inline constexpr SpecialFolderKind kFolderLocalAppData = 21;
inline constexpr SpecialFolderKind kLastSpecialFolderKind = 21;

// Longest folder path, in UTF-16 units, that a special folder may have.
inline constexpr std::size_t kMaxSpecialFolderLength = 258;

// The folder of `kind` for the user the process runs as, an absolute path.
// The per-user and machine-wide kinds are computed together on the first
// request and kept for the life of the process; a kind that failed is
// computed again on its next request. Thread-safe; a filled kind is read
// without a lock.
// Codes: RC_INVALID_PARAMETER for a kind above 21; RC_NOT_SUPPORTED for the
// system kinds (3 to 12, 17 to 19), which have no counterpart here;
// RC_INSUFFICIENT_BUFFER when the only paths found are longer than
// kMaxSpecialFolderLength; RC_LOCATION_NOT_FOUND when no source gives one;
// RC_OUT_OF_MEMORY. `out` is changed only on success.
ResultCode GetSpecialFolder(SpecialFolderKind kind, WString* out);

// The profile (home) folder of `user`: an account name, or a decimal user
// id that names no account. Codes: RC_INVALID_PARAMETER for an empty name,
// RC_LOCATION_NOT_FOUND for an unknown user or one without an absolute home,
// the converted system error when the password database cannot be read.
// Thread-safe; nothing is cached.
ResultCode GetUserProfileFolder(WStringView user, WString* out);

// The folder of `kind` for another user, built from that user's profile
// folder (`profilePath` when not empty, else GetUserProfileFolder(user))
// only: the environment belongs to this process's user and is not read.
// Machine-wide kinds are GetSpecialFolder(kind). Codes as GetSpecialFolder
// and GetUserProfileFolder. Thread-safe; nothing is cached.
ResultCode GetUserSpecialFolder(SpecialFolderKind kind, WStringView user, WStringView profilePath,
                                WString* out);

// The value of environment variable `name` (UTF-8, invalid bytes become
// U+FFFD); false, with `out` unchanged, when it is not set. May throw
// std::bad_alloc.
bool ReadEnvironmentVariable(const char* name, WString* out);

// A password-database entry: the account name and its home folder.
struct AccountEntry {
  WString name;
  WString home;
};
// The entry of `user` as GetUserProfileFolder names it, or of the effective
// user when `user` is empty. Codes: RC_LOCATION_NOT_FOUND when there is no
// such entry, the converted system error when the database cannot be read,
// RC_OUT_OF_MEMORY. Thread-safe.
ResultCode LookUpAccount(WStringView user, AccountEntry* out);

}  // namespace zun
