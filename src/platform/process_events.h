#pragma once
// What happens to the process around the library: fork, and the start of
// process exit.
namespace zun {

// Adds handlers that run around every fork, as pthread_atfork orders them:
// `prepare` in the forking thread before the fork (handlers added later run
// first), `parent` and `child` after it (in the order added). Any may be
// null. Handlers added by a library unloaded with dlclose go with it.
void AddForkHandlers(void (*prepare)(), void (*parent)(), void (*child)()) noexcept;

// Called once when the library is loaded: from then on ProcessExiting tells
// whether exit() has begun. exit() runs the handler this registers before
// the library's unload code; dlclose runs the unload code first.
void WatchForProcessExit() noexcept;
bool ProcessExiting() noexcept;

}  // namespace zun
