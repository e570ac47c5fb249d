#pragma once
// The log files in use: each distinct path that an appender reported before
// opening it, recorded once, newest first.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <unordered_set>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

// One entry of the list of opened files, allocated as one block: this header
// followed by the path's UTF-16 units, without terminator.
struct OpenedFileEntry {
  static constexpr std::uint32_t kLogFile = 2;

  const OpenedFileEntry* next;
  std::uint32_t kind;        // kLogFile
  std::uint32_t byteLength;  // of the path's units

  WStringView Path() const {
    return WStringView(reinterpret_cast<const char16_t*>(this + 1), byteLength / sizeof(char16_t));
  }
};

// A list that only grows: Push installs a new head with compare-and-swap, so
// pushers need no lock and readers may walk from Head() at any time. Entries
// live as long as the list.
class OpenedFileList {
 public:
  OpenedFileList() = default;
  ~OpenedFileList();
  OpenedFileList(const OpenedFileList&) = delete;
  OpenedFileList& operator=(const OpenedFileList&) = delete;

  // Thread safe. RC_OUT_OF_MEMORY, or RC_INVALID_PARAMETER for a path whose
  // byte length does not fit 32 bits; the list is unchanged then.
  ResultCode Push(WStringView path) noexcept;
  // The newest entry, or null.
  const OpenedFileEntry* Head() const noexcept { return head_.load(std::memory_order_acquire); }

 private:
  std::atomic<OpenedFileEntry*> head_{nullptr};
};

// The set of reported paths (compared exactly, case-sensitive) in front of a
// list. Not thread safe by itself: the dispatcher's lock guards every call.
class OpenedFileReports {
 public:
  // `list` is not owned and may be null: then there is nothing to record and
  // every report succeeds without effect.
  explicit OpenedFileReports(OpenedFileList* list) : list_(list) {}

  // Adds a path not reported before to the set and pushes it onto the list.
  // 0 or RC_OUT_OF_MEMORY (the path is then not recorded, so a later report
  // tries again).
  ResultCode Report(WStringView path) noexcept;
  std::size_t ReportedCount() const { return reported_.size(); }

 private:
  OpenedFileList* list_;
  std::unordered_set<WString> reported_;
};

}  // namespace zun
