#pragma once
// A lock its holder may take again. Unlike a recursive pthread mutex it
// names its owner by std::thread::id, which the forking thread keeps in the
// child, so a child may release what it held across fork. Holders keep it
// for tens of nanoseconds, so a waiter spins a little before it sleeps: a
// sleep and a wake-up in the kernel cost a hundred times more.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace zun {

class ReentrantLock {
 public:
  ReentrantLock() = default;
  ReentrantLock(const ReentrantLock&) = delete;
  ReentrantLock& operator=(const ReentrantLock&) = delete;

  void lock() {
    const std::thread::id self = std::this_thread::get_id();
    if (owner_.load(std::memory_order_relaxed) == self) {
      ++depth_;
      return;
    }
    for (int spin = 0; !mutex_.try_lock(); ++spin) {
      if (spin == kSpins) {
        mutex_.lock();
        break;
      }
      Pause();
    }
    owner_.store(self, std::memory_order_relaxed);
    depth_ = 1;
  }
  // Only by the holder.
  void unlock() {
    if (--depth_ != 0) return;
    owner_.store(std::thread::id(), std::memory_order_relaxed);
    mutex_.unlock();
  }
  bool HeldByThisThread() const {
    return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id();
  }

 private:
  static constexpr int kSpins = 64;

  static void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }

  std::mutex mutex_;
  // Only the holder writes it; a thread reading it while another holds the
  // lock sees an id other than its own, which is all it needs.
  std::atomic<std::thread::id> owner_{};
  std::uint32_t depth_ = 0;  // guarded by mutex_
};

}  // namespace zun
