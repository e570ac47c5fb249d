#include "platform/console_output.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/thread_signal_block.h"

namespace zun {

namespace {

constexpr std::size_t kMaxPiece = 32768;

}  // namespace

ResultCode WriteConsole(std::string_view bytes, bool standardError) noexcept {
  const int fd = standardError ? STDERR_FILENO : STDOUT_FILENO;
  ThreadSignalBlock sigpipe(SIGPIPE);
  while (!bytes.empty()) {
    const std::size_t piece = std::min(bytes.size(), kMaxPiece);
    const ssize_t n = ::write(fd, bytes.data(), piece);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      // No stream at all: the process has nowhere to show the text.
      if (error == EBADF) return RC_OK;
      if (error == EPIPE) sigpipe.NoteRaised();
      return ResultFromErrno(error);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return RC_OK;
}

}  // namespace zun
