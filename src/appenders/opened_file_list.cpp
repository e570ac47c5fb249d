#include "appenders/opened_file_list.h"

#include <cstring>
#include <limits>
#include <new>

namespace zun {

OpenedFileList::~OpenedFileList() {
  const OpenedFileEntry* entry = head_.load(std::memory_order_acquire);
  while (entry != nullptr) {
    const OpenedFileEntry* next = entry->next;
    entry->~OpenedFileEntry();
    ::operator delete(const_cast<OpenedFileEntry*>(entry));
    entry = next;
  }
}

ResultCode OpenedFileList::Push(WStringView path) noexcept {
  if (path.size() > std::numeric_limits<std::uint32_t>::max() / sizeof(char16_t)) return RC_INVALID_PARAMETER;
  const std::uint32_t byteLength = static_cast<std::uint32_t>(path.size() * sizeof(char16_t));
  void* block = ::operator new(sizeof(OpenedFileEntry) + byteLength, std::nothrow);
  if (block == nullptr) return RC_OUT_OF_MEMORY;
  OpenedFileEntry* entry = new (block) OpenedFileEntry{nullptr, OpenedFileEntry::kLogFile, byteLength};
  if (byteLength != 0) std::memcpy(entry + 1, path.data(), byteLength);

  OpenedFileEntry* head = head_.load(std::memory_order_relaxed);
  do {
    entry->next = head;
  } while (!head_.compare_exchange_weak(head, entry, std::memory_order_release, std::memory_order_relaxed));
  return 0;
}

ResultCode OpenedFileReports::Report(WStringView path) noexcept {
  if (list_ == nullptr) return 0;
  try {
    auto [position, added] = reported_.emplace(path);
    if (!added) return 0;
    const ResultCode rc = list_->Push(path);
    if (Failed(rc)) reported_.erase(position);
    return rc;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
