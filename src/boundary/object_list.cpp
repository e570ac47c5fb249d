#include "boundary/object_list.h"

#include <cstdlib>
#include <cstring>

namespace zun {

PointerArray::~PointerArray() { std::free(items_); }

ResultCode PointerArray::Resize(std::size_t n) {
  if (n <= capacity_) {
    size_ = n;
    return 0;
  }
  std::size_t capacity = 65;
  if (n >= 64) {
    capacity = n + n / 2;
    if (capacity < n || capacity >= 0x3FFFFFFF) return RC_OUT_OF_MEMORY;
  }
  auto* items = static_cast<void**>(std::malloc(capacity * sizeof(void*)));
  if (items == nullptr) return RC_OUT_OF_MEMORY;
  if (size_ != 0) std::memcpy(items, items_, size_ * sizeof(void*));
  std::free(items_);
  items_ = items;
  capacity_ = capacity;
  size_ = n;
  return 0;
}

ResultCode PointerArray::PushBack(void* item) {
  const ResultCode rc = Resize(size_ + 1);
  if (Failed(rc)) return rc;
  items_[size_ - 1] = item;
  return 0;
}

bool PointerArray::Remove(void* item) {
  for (std::size_t i = 0; i < size_; ++i) {
    if (items_[i] == item) {
      std::memmove(items_ + i, items_ + i + 1, (size_ - i - 1) * sizeof(void*));
      --size_;
      return true;
    }
  }
  return false;
}

}  // namespace zun
