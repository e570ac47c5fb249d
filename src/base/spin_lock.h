#pragma once
// A small lock for short, bounded work (one random fill, one key copy, one
// text's encryption). Constant-initialisable, so the process-wide locks work
// before any constructor of the library has run.
#include <atomic>
#include <cstdint>

namespace zun {

class SpinLock {
 public:
  // `sleepMs` is slept between failed attempts; 0 gives up the time slice.
  constexpr explicit SpinLock(std::uint32_t sleepMs = 0) : sleepMs_(sleepMs) {}
  SpinLock(const SpinLock&) = delete;
  SpinLock& operator=(const SpinLock&) = delete;

  void Lock();
  // Only by the holder.
  void Unlock();
  bool TryLock();

 private:
  std::atomic<std::uint32_t> flag_{0};  // 0 free, 1 held
  const std::uint32_t sleepMs_;
};

// Holds a SpinLock for its scope, also across early returns.
class SpinLockGuard {
 public:
  explicit SpinLockGuard(SpinLock& lock) : lock_(lock) { lock_.Lock(); }
  ~SpinLockGuard() { lock_.Unlock(); }
  SpinLockGuard(const SpinLockGuard&) = delete;
  SpinLockGuard& operator=(const SpinLockGuard&) = delete;

 private:
  SpinLock& lock_;
};

}  // namespace zun
