#include "appenders/opened_file_list.h"

#include <gtest/gtest.h>

#include <barrier>
#include <map>
#include <string>
#include <thread>
#include <vector>

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

TEST(OpenedFileListTest, EachExactPathIsRecordedOnceNewestFirst) {
  StandaloneAppenderOwner owner;
  const WString path = u"/var/log/Zun/common.log";
  const WString accented = u"/var/log/Zun/\u00e9t\u00e9 \U0001F600.log";  // a surrogate pair counts two units
  EXPECT_RC(RC_OK, owner.ReportOpenedFile(path));
  EXPECT_RC(RC_OK, owner.ReportOpenedFile(path));
  EXPECT_EQ(std::vector<WString>{path}, PathsOf(owner.OpenedFiles()));

  // Paths are compared with case: another spelling is another file here.
  EXPECT_RC(RC_OK, owner.ReportOpenedFile(u"/var/log/Zun/Common.log"));
  EXPECT_RC(RC_OK, owner.ReportOpenedFile(accented));
  EXPECT_RC(RC_OK, owner.ReportOpenedFile(accented));
  EXPECT_EQ((std::vector<WString>{accented, u"/var/log/Zun/Common.log", path}), PathsOf(owner.OpenedFiles()));
  EXPECT_EQ(23u * 2, owner.OpenedFiles().Head()->byteLength);

  // A path is a prefix of another without being equal to it.
  EXPECT_RC(RC_OK, owner.ReportOpenedFile(u"/var/log/Zun/common.log.1"));
  EXPECT_EQ(4u, PathsOf(owner.OpenedFiles()).size());
}

TEST(OpenedFileListTest, WithoutAListReportsSucceedAndRecordNothing) {
  OpenedFileReports reports(nullptr);
  EXPECT_RC(RC_OK, reports.Report(u"/tmp/a.log"));
  EXPECT_EQ(0u, reports.ReportedCount());
}

// Pushers without any lock, and a reader walking the list meanwhile: every
// entry is pushed exactly once and is whole when a reader sees it.
TEST(OpenedFileListTest, ConcurrentPushesLoseNothing) {
  constexpr int kThreads = 8, kPerThread = 500;
  OpenedFileList list;
  std::barrier start(kThreads + 1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kPerThread; ++i) {
        EXPECT_RC(RC_OK,
                  list.Push(ToUtf16("/logs/t" + std::to_string(t) + "/" + std::to_string(i) + ".log")));
      }
    });
  }
  start.arrive_and_wait();
  std::size_t seen = 0;
  bool whole = true;
  while (whole && seen < std::size_t{kThreads} * kPerThread) {
    seen = 0;
    for (const OpenedFileEntry* entry = list.Head(); entry != nullptr; entry = entry->next, ++seen) {
      const WStringView path = entry->Path();
      whole = whole && path.size() > 11 && path.substr(0, 7) == u"/logs/t" &&
              path.substr(path.size() - 4) == u".log";
    }
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_TRUE(whole);

  std::map<WString, int> counts;
  for (const WString& path : PathsOf(list)) ++counts[path];
  EXPECT_EQ(std::size_t{kThreads} * kPerThread, counts.size());
  for (const auto& [path, count] : counts) EXPECT_EQ(1, count) << ToUtf8(path);
}

TEST(OpenedFileListTest, ConcurrentReportsOfOverlappingPathsGiveOneEntryEach) {
  constexpr int kThreads = 8, kDistinct = 40;
  StandaloneAppenderOwner owner;
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      // Every thread reports every path, each starting elsewhere, twice over.
      for (int i = 0; i < 2 * kDistinct; ++i) {
        const int n = (t * 5 + i) % kDistinct;
        EXPECT_RC(RC_OK, owner.ReportOpenedFile(ToUtf16("/logs/file" + std::to_string(n) + ".log")));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::map<WString, int> counts;
  for (const WString& path : PathsOf(owner.OpenedFiles())) ++counts[path];
  ASSERT_EQ(std::size_t{kDistinct}, counts.size());
  for (int n = 0; n < kDistinct; ++n)
    EXPECT_EQ(1, counts[ToUtf16("/logs/file" + std::to_string(n) + ".log")]);
}

}  // namespace
}  // namespace zun
