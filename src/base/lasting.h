#pragma once
// Process-wide values that must outlive the library's own static destructors.
//
// At process exit, exit() runs the static destructors of the library before
// its unload code, while host threads may still be logging: a cache or a
// table they use must not be destroyed under them. When the library is
// unloaded with dlclose, the unload code runs first and the static
// destructors after it, with no call in flight, and then everything must be
// freed. A Lasting<T> keeps its value through the first and destroys it in
// the second.
#include <new>
#include <utility>

namespace zun {

// Set by the unload code when the library is being unloaded (dlclose) rather
// than torn down by process exit; static destructors run after it.
void MarkLibraryUnloading() noexcept;
bool LibraryUnloading() noexcept;

template <typename T>
class Lasting {
 public:
  template <typename... Args>
  explicit Lasting(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  ~Lasting() {
    if (LibraryUnloading()) Get().~T();
  }
  Lasting(const Lasting&) = delete;
  Lasting& operator=(const Lasting&) = delete;

  T& Get() noexcept { return *std::launder(reinterpret_cast<T*>(storage_)); }
  T& operator*() noexcept { return Get(); }
  T* operator->() noexcept { return &Get(); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace zun
