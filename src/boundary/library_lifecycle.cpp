// Load and unload of the library: the ELF constructor and destructor stand in
// for the attach and detach notifications.
#include "boundary/log_library_object.h"
#include "core/log_system.h"
#include "protect/random_generator.h"

namespace {

__attribute__((constructor)) void AttachLibrary() {
  // Session keys and scrambling choices must differ from process to process.
  zun::SeedRandomAtLoad();
}

__attribute__((destructor)) void DetachLibrary() {
  // Objects the host never released go first, last created first; after
  // this, late releases from the host do nothing.
  zun::ObjectRegistry::DestroyAllAtUnload();
  zun::ShutDownLogSystem();
}

}  // namespace
