#include "platform/process_events.h"

#include <pthread.h>

#include <atomic>

namespace zun {

namespace {

constinit std::atomic<bool> gExiting{false};

void NoteExit(void*) { gExiting.store(true, std::memory_order_release); }

}  // namespace

extern "C" {
extern void* __dso_handle;
int __cxa_atexit(void (*function)(void*), void* argument, void* dso) noexcept;
}

void AddForkHandlers(void (*prepare)(), void (*parent)(), void (*child)()) noexcept {
  pthread_atfork(prepare, parent, child);
}

// Registered with this library's handle, as atexit itself does, so that
// unloading the library drops the handler; said outright because a
// sanitizer's atexit wrapper loses the handle and calls into the unloaded
// library at exit.
void WatchForProcessExit() noexcept { __cxa_atexit(NoteExit, nullptr, &__dso_handle); }

bool ProcessExiting() noexcept { return gExiting.load(std::memory_order_acquire); }

}  // namespace zun
