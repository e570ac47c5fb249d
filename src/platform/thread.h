#pragma once
// Threads of the library's own (the asynchronous worker): started, joined,
// and forgotten in a forked child, where they do not exist.
#include <pthread.h>

#include "base/result_code.h"

namespace zun {

// Not synchronised: its owner serialises Start, Join and Forget.
class LibraryThread {
 public:
  LibraryThread() = default;
  LibraryThread(const LibraryThread&) = delete;
  LibraryThread& operator=(const LibraryThread&) = delete;

  // Runs body(context) on a new thread with every signal blocked, so the
  // host's handlers keep running on the host's threads. The converted errno
  // when the thread cannot be made.
  ResultCode Start(void (*body)(void*), void* context) noexcept;
  // Waits without limit for the thread to end. Nothing to do when none runs.
  void Join() noexcept;
  // In a child after fork: the thread belongs to the parent; drop it without
  // touching it.
  void Forget() noexcept { started_ = false; }
  bool Started() const noexcept { return started_; }

 private:
  pthread_t thread_{};
  bool started_ = false;
};

// Gives the processor to another thread that is ready to run.
void YieldThread() noexcept;

}  // namespace zun
