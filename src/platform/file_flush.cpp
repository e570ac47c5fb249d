#include "platform/file_flush.h"

#include <unistd.h>

#include <cerrno>

#include "platform/file_calls.h"

namespace zun {

ResultCode FlushFileBuffers(const FileStream& file) {
  int fd = -1;
  const ResultCode rc = file.NativeHandle(&fd);
  if (Failed(rc)) return rc;
  while (Files().fsync(fd) != 0) {
    if (errno != EINTR) return ResultFromErrno(errno);
  }
  return RC_OK;
}

}  // namespace zun
