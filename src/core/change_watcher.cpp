#include "core/change_watcher.h"

#include <new>

namespace zun {

ResultCode ChangeWatcher::Add(WStringView folder, ChangeWatch** added) noexcept {
  try {
    const auto [at, isNew] = folders_.try_emplace(WString(folder));
    *added = isNew ? &at->second : nullptr;
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ChangeWatcher::OpenAll(std::vector<ChangeWatch*>* open) noexcept {
  try {
    if (open != nullptr) {
      open->clear();
      open->reserve(folders_.size());
    }
    for (auto& [folder, watch] : folders_) {
      if (!watch.IsOpen()) (void)watch.Open(folder);
      if (watch.IsOpen() && open != nullptr) open->push_back(&watch);
    }
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

void ChangeWatcher::CloseAll() noexcept {
  for (auto& [folder, watch] : folders_) watch.Close();
}

}  // namespace zun
