#include "base/result_code.h"

#include <cerrno>
#include <cstddef>

#include "zunlogx/zunlogx.h"

namespace zun {

// Every constant of the table must be the public header's value too.
#define ZUN_RESULT_CODE(name, value) static_assert(ZUN_##name == (value), #name);
#include "base/result_codes.inc"
#undef ZUN_RESULT_CODE

namespace {

struct NamedCode {
  ResultCode code;
  const char* name;
};

constexpr NamedCode kNamedCodes[] = {
#define ZUN_RESULT_CODE(name, value) {value, #name},
#include "base/result_codes.inc"
#undef ZUN_RESULT_CODE
};

struct ErrorRow {
  std::uint32_t error;
  std::uint16_t code;
};

// Searched first to last; the first match wins (126 and 80 repeat codes).
constexpr ErrorRow kErrorTable[] = {
    {2, 0x003D},   {3, 0x003E},    {6, 0x003F},   {4306, 0x0040}, {4307, 0x0041}, {30, 0x0042},
    {29, 0x0043},  {122, 0x0044},  {13, 0x0045},  {18, 0x0046},   {52, 0x0047},   {1630, 0x0048},
    {24, 0x0049},  {23, 0x004A},   {123, 0x004B}, {4312, 0x004C}, {487, 0x004D},  {12, 0x004E},
    {183, 0x004F}, {87, 0x0002},   {131, 0x0051}, {998, 0x0052},  {14, 0x0001},   {32, 0x0053},
    {50, 0x0054},  {4317, 0x0055}, {1, 0x0056},   {995, 0x0057},  {5, 0x0058},    {10061, 0x0190},
    {126, 0x003E}, {80, 0x004F},   {112, 0x0097},
};

bool LookUp(std::uint32_t error, std::uint16_t& code) {
  for (const ErrorRow& row : kErrorTable) {
    if (row.error == error) {
      code = row.code;
      return true;
    }
  }
  return false;
}

struct StatusRow {
  std::uint32_t status;
  std::uint32_t error;
};

// The native statuses the platform layer produces, with the system error
// number each stands for.
constexpr StatusRow kStatusTable[] = {
    {0x00000102u, 1460},  // timeout
    {0x00000103u, 997},   // pending
    {0x80000006u, 18},    // no more files
    {0x80000011u, 38},    // end of file (warning form)
    {0xC0000008u, 6},     // invalid handle
    {0xC000000Du, 87},    // invalid parameter
    {0xC000000Fu, 2},     // no such file
    {0xC0000010u, 1},     // invalid device request
    {0xC0000011u, 38},    // end of file
    {0xC0000017u, 14},    // no memory
    {0xC0000022u, 5},     // access denied
    {0xC0000023u, 122},   // buffer too small
    {0xC0000033u, 123},   // object name invalid
    {0xC0000034u, 2},     // object name not found
    {0xC0000035u, 183},   // object name collision
    {0xC000003Au, 3},     // object path not found
    {0xC0000043u, 32},    // sharing violation
    {0xC000007Fu, 112},   // disk full
    {0xC00000BAu, 5},     // file is a directory
    {0xC00000BBu, 50},    // not supported
    {0xC0000103u, 267},   // not a directory
    {0xC0000120u, 995},   // cancelled
};

}  // namespace

const char* ResultCodeName(ResultCode rc) {
  for (const NamedCode& named : kNamedCodes) {
    if (named.code == rc) return named.name;
  }
  return nullptr;
}

std::uint32_t Win32ErrorFromNtStatus(std::uint32_t status) {
  if (status == 0) return 0;
  // Statuses that carry a system error number in facility 7 give it back.
  if ((status & 0x0FFF0000u) == 0x00070000u) return status & 0xFFFFu;
  for (const StatusRow& row : kStatusTable) {
    if (row.status == status) return row.error;
  }
  return 317;  // the system's "no mapping" number
}

ResultCode ResultFromNtStatus(std::uint32_t status) {
  if (status == 0) return 0;
  if (status == 0x80000005u) return RC_INSUFFICIENT_BUFFER;
  const std::uint32_t error = Win32ErrorFromNtStatus(status);
  std::uint16_t code = 0;
  const bool found = LookUp(error, code);
  const std::uint32_t severity = status & 0xC0000000u;
  if (severity != 0) {
    return found ? (severity | 0x20010000u | code) : (severity | 0x00070000u | (error & 0xFFFFu));
  }
  return found ? (0x60010000u | code) : (0x40070000u | (error & 0xFFFFu));
}

ResultCode ResultFromWin32Error(std::uint32_t error) {
  if (error == 0) return 0;
  std::uint16_t code = 0;
  if (LookUp(error, code)) return 0xE0010000u | code;
  return 0xC0070000u | (error & 0xFFFFu);
}

std::uint32_t Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return 0;
    case ENOENT:
      return 2;
    case ENOTDIR:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return 5;
    case EBADF:
      return 6;
    case ENOMEM:
      return 14;
    case EXDEV:
      return 17;
    case EBUSY:
    case ETXTBSY:
      return 32;
    case ENOSYS:
    case EOPNOTSUPP:
    case ENOTTY:
      return 50;
    case ENXIO:
    case ENODEV:
      return 55;
    case EEXIST:
      return 80;
    case EINVAL:
      return 87;
    case ENOSPC:
    case EDQUOT:
      return 112;
    case ENAMETOOLONG:
      return 123;
    case ESPIPE:
      return 132;
    case ENOTEMPTY:
      return 145;
    case EFBIG:
      return 223;
    case EFAULT:
      return 487;
    case EOVERFLOW:
      return 534;
    case EAGAIN:
      return 33;  // a lock that another holder keeps
    case EIO:
      return 1117;
    case ENODATA:
      return 1168;
    case ETIMEDOUT:
      return 1460;
    case ELOOP:
      return 1921;
    case ECONNREFUSED:
      return 10061;
    default:
      return 1359;  // internal error: errno with no closer meaning
  }
}

ResultCode ResultFromErrno(int error) { return ResultFromWin32Error(Win32ErrorFromErrno(error)); }

}  // namespace zun
