#include "base/spin_lock.h"

#include <chrono>
#include <thread>

namespace zun {

bool SpinLock::TryLock() {
  std::uint32_t expected = 0;
  return flag_.compare_exchange_strong(expected, 1, std::memory_order_acquire, std::memory_order_relaxed);
}

void SpinLock::Lock() {
  while (!TryLock()) {
    if (sleepMs_ == 0) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs_));
    }
  }
}

void SpinLock::Unlock() {
  std::uint32_t expected = 1;
  flag_.compare_exchange_strong(expected, 0, std::memory_order_release, std::memory_order_relaxed);
}

}  // namespace zun
