#include "platform/console_output.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace zun {

namespace {

constexpr std::size_t kMaxPiece = 32768;

// Keeps SIGPIPE from ending the host while this thread writes to a stream
// whose reader may be gone: the signal is blocked for the thread, and one
// raised by our own write is taken back before the mask is restored.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_, &old_) == 0;
  }
  ~SigpipeBlock() {
    if (!blocked_) return;
    if (raised_ && !wasPending_) {
      const timespec none{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  void NoteRaised() { raised_ = true; }

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool wasPending_ = false;
  bool blocked_ = false;
  bool raised_ = false;
};

}  // namespace

ResultCode WriteConsole(std::string_view bytes, bool standardError) noexcept {
  const int fd = standardError ? STDERR_FILENO : STDOUT_FILENO;
  SigpipeBlock sigpipe;
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
