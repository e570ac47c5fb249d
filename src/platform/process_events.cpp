#include "platform/process_events.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>

namespace zun {

namespace {

constinit std::atomic<bool> gExiting{false};

void NoteExit() { gExiting.store(true, std::memory_order_release); }

}  // namespace

void AddForkHandlers(void (*prepare)(), void (*parent)(), void (*child)()) noexcept {
  pthread_atfork(prepare, parent, child);
}

void WatchForProcessExit() noexcept { std::atexit(NoteExit); }

bool ProcessExiting() noexcept { return gExiting.load(std::memory_order_acquire); }

}  // namespace zun
