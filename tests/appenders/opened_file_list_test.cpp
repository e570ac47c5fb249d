#include "appenders/opened_file_list.h"

#include <atomic>
#include <set>

#include "appenders/standalone_owner.h"
#include "support/test_support.h"

namespace zun {
namespace {

std::vector<WString> PathsOf(const OpenedFileList& list) {
  std::vector<WString> paths;
  for (const OpenedFileEntry* entry = list.Head(); entry != nullptr; entry = entry->next) {
    EXPECT_EQ(OpenedFileEntry::kLogFile, entry->kind);
    EXPECT_EQ(entry->Path().size() * 2, entry->byteLength);
    paths.emplace_back(entry->Path());
  }
  return paths;
}

// Threads report overlapping paths while a reader walks the list: every
// entry is whole when seen, and each path is in the list once.
TEST(OpenedFileListTest, ConcurrentReportsGiveOneWholeEntryPerPath) {
  constexpr unsigned kThreads = 8, kDistinct = 400;
  StandaloneAppenderOwner owner;
  std::atomic<unsigned> finished{0};
  bool whole = true;
  test::RunThreads(kThreads + 1, [&](unsigned t) {
    for (unsigned i = 0; t < kThreads && i < kDistinct; ++i) {
      EXPECT_RC(RC_OK, owner.ReportOpenedFile(ToUtf16("/logs/f" + std::to_string((t * 50 + i) % kDistinct))));
    }
    if (t < kThreads) {
      ++finished;
      return;
    }
    for (bool last = false; !last;) {
      last = finished == kThreads;  // one more walk once every thread is done
      for (const OpenedFileEntry* entry = owner.OpenedFiles().Head(); entry != nullptr; entry = entry->next) {
        whole = whole && entry->Path().starts_with(u"/logs/f") && entry->Path().size() - 8 <= 2;
      }
    }
  });
  EXPECT_TRUE(whole);
  const std::vector<WString> paths = PathsOf(owner.OpenedFiles());
  EXPECT_EQ(std::size_t{kDistinct}, paths.size());
  EXPECT_EQ(std::size_t{kDistinct}, std::set<WString>(paths.begin(), paths.end()).size());
}

}  // namespace
}  // namespace zun
