#include "platform/wake_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <vector>

#include "platform/file_calls.h"

namespace zun {

ResultCode WakeEvent::Create() noexcept {
  Close();
  const int fd = Files().eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) return ResultFromErrno(errno);
  fd_ = fd;
  return RC_OK;
}

void WakeEvent::Close() noexcept {
  if (fd_ < 0) return;
  Files().close(fd_);
  fd_ = -1;
}

ResultCode WakeEvent::Signal() noexcept {
  if (fd_ < 0) return RC_INVALID_HANDLE;
  const std::uint64_t one = 1;
  for (;;) {
    if (::write(fd_, &one, sizeof one) == sizeof one) return RC_OK;
    // EAGAIN: the counter is at its limit, so the event is signalled anyway.
    if (errno == EAGAIN) return RC_OK;
    if (errno != EINTR) return ResultFromErrno(errno);
  }
}

void WakeEvent::Reset() noexcept {
  if (fd_ < 0) return;
  std::uint64_t count;
  while (::read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

ResultCode WaitReadable(const int* fds, std::size_t count, int timeoutMs, std::uint8_t* ready) noexcept {
  constexpr std::size_t kOnStack = 16;
  pollfd onStack[kOnStack];
  std::vector<pollfd> onHeap;
  pollfd* set = onStack;
  if (count > kOnStack) {
    try {
      onHeap.resize(count);
    } catch (const std::bad_alloc&) {
      return RC_OUT_OF_MEMORY;
    }
    set = onHeap.data();
  }
  for (std::size_t i = 0; i < count; ++i) set[i] = pollfd{fds[i], POLLIN, 0};
  int n;
  while ((n = ::poll(set, count, timeoutMs)) < 0) {
    if (errno != EINTR) return ResultFromErrno(errno);
  }
  for (std::size_t i = 0; i < count; ++i) ready[i] = set[i].revents != 0 ? 1 : 0;
  return RC_OK;
}

}  // namespace zun
