#pragma once
// Result codes: the library's only way to report an outcome. A code is a
// failure when negative as int32_t, so warnings (0xA001xxxx) fail and
// informational codes (0x6001xxxx) succeed.
#include <cstdint>

namespace zun {

using ResultCode = std::uint32_t;

#define ZUN_RESULT_CODE(name, value) inline constexpr ResultCode name = value;
#include "base/result_codes.inc"
#undef ZUN_RESULT_CODE

constexpr bool Failed(ResultCode rc) { return static_cast<std::int32_t>(rc) < 0; }
constexpr bool Succeeded(ResultCode rc) { return static_cast<std::int32_t>(rc) >= 0; }

// The same meaning as a warning (a failure that callers may pass over).
constexpr ResultCode AsWarning(ResultCode rc) { return (rc & 0x3FFFFFFFu) | 0x80000000u; }

// "RC_FILE_NOT_FOUND" for a code of the table, null for any other.
const char* ResultCodeName(ResultCode rc);

// Native status value (NTSTATUS layout) to a result code.
ResultCode ResultFromNtStatus(std::uint32_t status);
// System error number (Windows numbering) to a result code.
ResultCode ResultFromWin32Error(std::uint32_t error);
// errno to the system error number of the conversion table.
std::uint32_t Win32ErrorFromErrno(int error);
// errno to a result code: ResultFromWin32Error(Win32ErrorFromErrno(error)).
ResultCode ResultFromErrno(int error);
// The system error number a native status stands for; 317 for statuses the
// library never produces.
std::uint32_t Win32ErrorFromNtStatus(std::uint32_t status);

}  // namespace zun
