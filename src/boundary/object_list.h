#pragma once
// A growable array of pointers with the library's growth rule: room for 65
// entries first, then n + n/2 when n entries are asked for.
#include <cstddef>
#include <cstdint>

#include "base/result_code.h"

namespace zun {

class PointerArray {
 public:
  PointerArray() = default;
  ~PointerArray();
  PointerArray(const PointerArray&) = delete;
  PointerArray& operator=(const PointerArray&) = delete;

  // Sets the length to n, growing by the rule; RC_OUT_OF_MEMORY leaves the
  // array as it was.
  ResultCode Resize(std::size_t n);
  ResultCode PushBack(void* item);
  // Removes the first entry equal to `item`, keeping the order of the rest.
  bool Remove(void* item);

  std::size_t Size() const { return size_; }
  std::size_t Capacity() const { return capacity_; }
  void* operator[](std::size_t i) const { return items_[i]; }
  void* Back() const { return items_[size_ - 1]; }

 private:
  void** items_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace zun
