#include "base/lasting.h"

#include <atomic>

namespace zun {

namespace {

constinit std::atomic<bool> gUnloading{false};

}  // namespace

void MarkLibraryUnloading() noexcept { gUnloading.store(true, std::memory_order_release); }

bool LibraryUnloading() noexcept { return gUnloading.load(std::memory_order_acquire); }

}  // namespace zun
