#pragma once
// The folders of loaded configuration files, each with the change
// notification the worker thread waits on while it runs.
#include <cstddef>
#include <map>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"
#include "platform/change_watch.h"

namespace zun {

// Not synchronised: the asynchronous handler guards it with its queue lock.
// Folders are added and never removed while the watcher lives; a folder
// stays listed after its files were replaced or deleted. Notifications exist
// only while the worker runs: it opens them, reads them and closes them.
class ChangeWatcher {
 public:
  // Lists `folder` unless it is listed already (the same text exactly);
  // `*added` is its new watch, or null when it was listed. RC_OUT_OF_MEMORY;
  // nothing else fails.
  ResultCode Add(WStringView folder, ChangeWatch** added) noexcept;
  std::size_t Count() const noexcept { return folders_.size(); }

  // Opens a notification for every folder that has none (a folder that
  // cannot be watched is skipped until the next call), then lists the open
  // ones when `open` is not null. Watches stay where they are until the
  // watcher is destroyed.
  ResultCode OpenAll(std::vector<ChangeWatch*>* open) noexcept;
  void CloseAll() noexcept;

 private:
  std::map<WString, ChangeWatch> folders_;
};

}  // namespace zun
