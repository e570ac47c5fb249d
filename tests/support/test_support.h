#pragma once
// Shared test fixtures: a fresh temporary folder per test, byte-exact file
// reading, UTF-16 literals in assertions.
#include <gtest/gtest.h>

#include <barrier>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"
#include "platform/file_calls.h"

namespace zun::test {

// ThreadSanitizer builds: slow, and unable to start threads in the child of a
// forked multi-threaded process.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
inline constexpr bool kThreadSanitizer = __has_feature(thread_sanitizer);
#else
inline constexpr bool kThreadSanitizer = false;
#endif

// A new empty folder under $TMPDIR (or /tmp), removed with its contents at
// the end of the test.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  const std::filesystem::path& Dir() const { return dir_; }
  std::filesystem::path PathOf(const std::string& name) const { return dir_ / name; }
  // The path as UTF-16, the form the library takes.
  WString WidePath(const std::string& name) const { return ToUtf16(PathOf(name).string()); }

 private:
  std::filesystem::path dir_;
};

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

// "RC_FILE_NOT_FOUND (0xE001003D)", for readable assertion messages.
std::string DescribeCode(ResultCode rc);

// `text` as UTF-8 when `rc` succeeded, else DescribeCode(rc); one line.
std::string Outcome(ResultCode rc, WStringView text);

// Puts a copy of the real file calls, with the slots a test replaces, in use
// for the whole process until it goes out of scope.
struct FileCallsOverride {
  FileCalls calls = RealFileCalls();
  void Install() { SetFileCalls(&calls); }
  ~FileCallsOverride() { SetFileCalls(nullptr); }
};

// Path of a host program built from tests/hosts.
inline std::string HostProgram(const std::string& name) { return ZUNLOGX_HOST_DIR "/" + name; }

// This process's environment, as "NAME=value" entries.
std::vector<std::string> CurrentEnvironment();

// Runs `body` in a forked child whose environment is exactly `environment`
// ("NAME=value" entries), so process-wide state starts fresh there. Returns
// what the child wrote to its standard output, `body`'s result last, and
// "[status N]" when the child did not exit with 0, or "[hang]" when it was
// killed after `timeoutMs` without output or its end (-1: no limit).
std::string RunInChild(const std::vector<std::string>& environment, const std::function<std::string()>& body,
                       int timeoutMs = -1);

// Runs body(0) .. body(count - 1) on as many threads, released together by
// one barrier, and joins them all.
template <typename Body>
void RunThreads(unsigned count, Body body) {
  std::barrier start(count);
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < count; ++i) threads.emplace_back([&, i] { start.arrive_and_wait(), body(i); });
  for (std::thread& thread : threads) thread.join();
}

}  // namespace zun::test

// EXPECT_RC(expected, actual) compares codes and prints their names.
#define EXPECT_RC(expected, actual) \
  EXPECT_EQ(::zun::test::DescribeCode(expected), ::zun::test::DescribeCode(actual))
#define ASSERT_RC(expected, actual) \
  ASSERT_EQ(::zun::test::DescribeCode(expected), ::zun::test::DescribeCode(actual))
