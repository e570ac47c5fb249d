#pragma once
// Keeps a signal that a system call raises in its own thread (SIGPIPE from a
// write to a pipe without a reader, SIGXFSZ from a write at the file size
// limit) from ending the host, without touching the host's signal actions:
// the signal is blocked for the calling thread only, and one that the
// guarded call raised is taken back before the thread's mask is restored.
#include <signal.h>

namespace zun {

// Lives on the stack of the thread that makes the call; not copyable.
class ThreadSignalBlock {
 public:
  explicit ThreadSignalBlock(int signal) noexcept;
  ~ThreadSignalBlock();
  ThreadSignalBlock(const ThreadSignalBlock&) = delete;
  ThreadSignalBlock& operator=(const ThreadSignalBlock&) = delete;

  // The guarded call failed in the way that raises the signal. One that was
  // pending before the block (the host's own) is left pending.
  void NoteRaised() noexcept { raised_ = true; }

 private:
  sigset_t set_;
  sigset_t old_;
  bool wasPending_ = false;
  bool blocked_ = false;
  bool raised_ = false;
};

}  // namespace zun
