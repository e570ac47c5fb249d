#pragma once
// Events a thread can wait on together with other descriptors: an eventfd
// that stays signalled until reset, and a wait for the first of several
// descriptors to become readable.
#include <cstddef>
#include <cstdint>

#include "base/result_code.h"

namespace zun {

// Not synchronised except Signal, which any thread may call at any time.
class WakeEvent {
 public:
  WakeEvent() = default;
  ~WakeEvent() { Close(); }
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  // Makes the event, unsignalled (close-on-exec, non-blocking). An open
  // event is closed first; in a child after fork that gives up the event it
  // shares with the parent.
  ResultCode Create() noexcept;
  void Close() noexcept;

  ResultCode Signal() noexcept;
  void Reset() noexcept;
  // What a wait watches; -1 when closed.
  int Descriptor() const noexcept { return fd_; }

 private:
  int fd_ = -1;
};

// Waits until one of `fds` is readable (or has failed or hung up), without
// limit when `timeoutMs` is negative. ready[i] becomes 1 for each such
// descriptor and 0 for the others; a descriptor of -1 is never ready. All 0
// after a timeout. EINTR is retried with the whole timeout.
ResultCode WaitReadable(const int* fds, std::size_t count, int timeoutMs, std::uint8_t* ready) noexcept;

}  // namespace zun
