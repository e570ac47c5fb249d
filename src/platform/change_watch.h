#pragma once
// Change notification for one folder (inotify): a descriptor that becomes
// readable when anything in the folder is created, written, changed in its
// attributes, renamed or deleted, or the folder itself is moved or deleted.
// Reading a file does not count, so a watcher that reads the files it is
// told about does not notify itself.
#include "base/result_code.h"
#include "base/text.h"

namespace zun {

// Not synchronised: one thread owns it.
class ChangeWatch {
 public:
  ChangeWatch() = default;
  ~ChangeWatch() { Close(); }
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // Starts watching `folder` (a watch already open is closed first). The
  // converted errno when the folder is missing, not a folder or cannot be
  // watched; RC_INVALID_PARAMETER for a path the system cannot take.
  ResultCode Open(WStringView folder) noexcept;
  // Also what a child after fork does with a watch it shares with its
  // parent: only the child's copy of the descriptor goes.
  void Close() noexcept;
  bool IsOpen() const noexcept { return fd_ >= 0; }
  int Descriptor() const noexcept { return fd_; }

  // Reads every notification waiting, so the descriptor stops being
  // readable; true when there was one. A watched folder that went away ends
  // the watch (IsOpen becomes false).
  bool Consume() noexcept;

 private:
  int fd_ = -1;
};

}  // namespace zun
