// Load and unload of the library: the ELF constructor and destructor stand in
// for the attach and detach notifications.
//
// The destructor runs in two situations that need opposite things. When the
// host unloads the library with dlclose, no call is in flight and everything
// must be freed. When the process exits, exit() runs it while host threads
// may still be inside log calls: then what is queued is written and the
// files flushed, but nothing those threads may use is freed.
#include "base/lasting.h"
#include "boundary/log_library_object.h"
#include "core/log_system.h"
#include "platform/process_events.h"
#include "protect/random_generator.h"

namespace {

__attribute__((constructor)) void AttachLibrary() {
  // Session keys and scrambling choices must differ from process to process.
  zun::SeedRandomAtLoad();
  zun::WatchForProcessExit();
}

__attribute__((destructor)) void DetachLibrary() {
  if (zun::ProcessExiting()) {
    zun::StopLogSystemAtExit();
    zun::ObjectRegistry::ShutDownAtExit();
    return;
  }
  // Objects the host never released go first, last created first; after
  // this, late releases from the host do nothing.
  zun::ObjectRegistry::DestroyAllAtUnload();
  zun::ShutDownLogSystem();
  // The static destructors that run next free the process-wide caches.
  zun::MarkLibraryUnloading();
}

}  // namespace
