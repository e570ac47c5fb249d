#include "core/log_system.h"

#include <new>

namespace zun {

namespace {

std::mutex gSystemLock;
LogSystem* gSystem = nullptr;  // guarded by gSystemLock
std::uint32_t gHolders = 0;    // guarded by gSystemLock

}  // namespace

ResultCode LogSystem::CopyLoadedFiles(std::vector<LoadedFile>* out) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  try {
    *out = loadedFiles_;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  return 0;
}

ResultCode AcquireLogSystem(LogSystem** out) {
  std::lock_guard<std::mutex> hold(gSystemLock);
  if (gSystem == nullptr) {
    gSystem = new (std::nothrow) LogSystem();
    if (gSystem == nullptr) return RC_OUT_OF_MEMORY;
  }
  ++gHolders;
  *out = gSystem;
  return 0;
}

void ReleaseLogSystem(LogSystem* system) {
  std::lock_guard<std::mutex> hold(gSystemLock);
  if (system != nullptr && system == gSystem && gHolders > 0) --gHolders;
}

void ShutDownLogSystem() {
  std::lock_guard<std::mutex> hold(gSystemLock);
  delete gSystem;
  gSystem = nullptr;
  gHolders = 0;
}

}  // namespace zun
