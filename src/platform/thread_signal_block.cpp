#include "platform/thread_signal_block.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace zun {

ThreadSignalBlock::ThreadSignalBlock(int signal) noexcept {
  sigemptyset(&set_);
  sigaddset(&set_, signal);
  sigset_t pending;
  sigemptyset(&pending);
  wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, signal) == 1;
  blocked_ = pthread_sigmask(SIG_BLOCK, &set_, &old_) == 0;
}

ThreadSignalBlock::~ThreadSignalBlock() {
  if (!blocked_) return;
  if (raised_ && !wasPending_) {
    const timespec none{0, 0};
    while (sigtimedwait(&set_, nullptr, &none) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

}  // namespace zun
