#include "base/result_code.h"

#include <cerrno>

#include "support/test_support.h"

namespace zun {
namespace {

TEST(ResultCode, NativeStatusesSystemErrorsAndErrnoMapToTheirCodes) {
  const struct {
    ResultCode (*map)(std::uint32_t);
    std::uint32_t from;
    ResultCode rc;
  } cases[] = {
      {ResultFromNtStatus, 0, 0},
      // The native buffer-overflow warning is an error to the library.
      {ResultFromNtStatus, 0x80000005u, RC_INSUFFICIENT_BUFFER},
      {ResultFromNtStatus, 0xC0000034u, RC_FILE_NOT_FOUND},
      // A warning status carrying system error 122 keeps the warning severity.
      {ResultFromNtStatus, 0x8007007Au, 0xA0010044u},
      // Outside the table: facility 7 with the error number, severity kept.
      {ResultFromNtStatus, 0xC00705B4u, 0xC0070000u | 1460u},
      {ResultFromNtStatus, 0x00070002u, 0x6001003Du},
      {ResultFromNtStatus, 0x00000103u, 0x40070000u | 997u},
      {ResultFromNtStatus, 0xC0DEDEADu, 0xC007013Du},  // no mapping at all
      {ResultFromWin32Error, 0, 0},
      {ResultFromWin32Error, 3, RC_PATH_NOT_FOUND},
      {ResultFromWin32Error, 126, RC_PATH_NOT_FOUND},  // late rows repeat earlier codes
      {ResultFromWin32Error, 9999, 0xC0070000u | 9999u},
      {ResultFromWin32Error, 0xABCD1234u, 0xC0071234u},
  };
  for (const auto& c : cases) EXPECT_RC(c.rc, c.map(c.from)) << std::hex << c.from;

  const std::pair<int, ResultCode> errnos[] = {
      {ENOENT, RC_FILE_NOT_FOUND},     {ENOTDIR, RC_PATH_NOT_FOUND},   {EBADF, RC_INVALID_HANDLE},
      {ENOMEM, RC_OUT_OF_MEMORY},      {EROFS, RC_ACCESS_DENIED},      {EEXIST, RC_ALREADY_EXISTS},
      {EINVAL, RC_INVALID_PARAMETER},  {EDQUOT, RC_DISK_FULL},         {EBUSY, RC_SHARING_VIOLATION},
      {ENAMETOOLONG, RC_INVALID_NAME}, {EOPNOTSUPP, RC_NOT_SUPPORTED}, {0, 0}};
  for (const auto& [error, rc] : errnos) EXPECT_RC(rc, ResultFromErrno(error)) << error;
}

}  // namespace
}  // namespace zun
