#include "base/result_code.h"

#include <cerrno>

#include "support/test_support.h"

namespace zun {
namespace {

TEST(ResultFromNtStatus, SpecialValuesAndSeverityShapes) {
  EXPECT_RC(0u, ResultFromNtStatus(0));
  // The native buffer-overflow warning is an error to the library.
  EXPECT_RC(RC_INSUFFICIENT_BUFFER, ResultFromNtStatus(0x80000005u));
  // Error status mapping to system error 2.
  EXPECT_RC(RC_FILE_NOT_FOUND, ResultFromNtStatus(0xC0000034u));
  // Warning status carrying system error 122 keeps the warning severity.
  EXPECT_RC(0xA0010044u, ResultFromNtStatus(0x8007007Au));
  // An error status with a system error outside the table keeps facility 7.
  EXPECT_RC(0xC0070000u | 1460u, ResultFromNtStatus(0xC00705B4u));
  // Success statuses that map to a row are informational, and succeed.
  const ResultCode quiet = ResultFromNtStatus(0x00070002u);
  EXPECT_RC(0x6001003Du, quiet);
  EXPECT_TRUE(Succeeded(quiet));
  EXPECT_RC(0x60010002u, ResultFromNtStatus(0x40070057u));
  // Severity 0 and no row: 0x4007 with the error number.
  EXPECT_RC(0x40070000u | 997u, ResultFromNtStatus(0x00000103u));
  // Unknown statuses fall back to the "no mapping" number.
  EXPECT_RC(0xC007013Du, ResultFromNtStatus(0xC0DEDEADu));
}

TEST(ResultFromWin32Error, TableOrderAndFallback) {
  EXPECT_RC(0u, ResultFromWin32Error(0));
  EXPECT_RC(RC_PATH_NOT_FOUND, ResultFromWin32Error(3));
  // Two late rows repeat earlier codes.
  EXPECT_RC(RC_PATH_NOT_FOUND, ResultFromWin32Error(126));
  EXPECT_RC(RC_ALREADY_EXISTS, ResultFromWin32Error(80));
  EXPECT_RC(RC_ALREADY_EXISTS, ResultFromWin32Error(183));
  EXPECT_RC(RC_INVALID_PARAMETER, ResultFromWin32Error(87));
  EXPECT_RC(RC_OUT_OF_MEMORY, ResultFromWin32Error(14));
  EXPECT_RC(RC_DISK_FULL, ResultFromWin32Error(112));
  EXPECT_RC(RC_CONNECTION_REFUSED, ResultFromWin32Error(10061));
  EXPECT_RC(0xC0070000u | 9999u, ResultFromWin32Error(9999));
  EXPECT_RC(0xC0071234u, ResultFromWin32Error(0xABCD1234u));
}

TEST(ResultFromErrno, LinuxErrorsReachTheDocumentedCodes) {
  EXPECT_RC(RC_FILE_NOT_FOUND, ResultFromErrno(ENOENT));
  EXPECT_RC(RC_PATH_NOT_FOUND, ResultFromErrno(ENOTDIR));
  EXPECT_RC(RC_INVALID_HANDLE, ResultFromErrno(EBADF));
  EXPECT_RC(RC_OUT_OF_MEMORY, ResultFromErrno(ENOMEM));
  for (int e : {EACCES, EPERM, EISDIR, EROFS}) EXPECT_RC(RC_ACCESS_DENIED, ResultFromErrno(e)) << e;
  EXPECT_RC(RC_ALREADY_EXISTS, ResultFromErrno(EEXIST));
  EXPECT_RC(RC_INVALID_PARAMETER, ResultFromErrno(EINVAL));
  EXPECT_RC(RC_DISK_FULL, ResultFromErrno(ENOSPC));
  EXPECT_RC(RC_DISK_FULL, ResultFromErrno(EDQUOT));
  EXPECT_RC(RC_SHARING_VIOLATION, ResultFromErrno(EBUSY));
  EXPECT_RC(RC_INVALID_NAME, ResultFromErrno(ENAMETOOLONG));
  EXPECT_RC(RC_NOT_SUPPORTED, ResultFromErrno(EOPNOTSUPP));
  EXPECT_RC(0u, ResultFromErrno(0));
}

TEST(ResultCode, SignDecidesFailureAndWarningsKeepTheirNumber) {
  EXPECT_TRUE(Failed(RC_WARN_TIMEOUT));
  EXPECT_TRUE(Failed(0x80070002u));
  EXPECT_FALSE(Failed(RC_INFO_NOTHING_TO_DO));
  EXPECT_FALSE(Failed(0x40070002u));
  EXPECT_RC(0xA0010043u, AsWarning(RC_WRITE_FAULT));
  EXPECT_STREQ("RC_FILE_NOT_FOUND", ResultCodeName(RC_FILE_NOT_FOUND));
  EXPECT_EQ(nullptr, ResultCodeName(0x12345678u));
}

}  // namespace
}  // namespace zun
