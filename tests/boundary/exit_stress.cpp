// Hosts that end while the library is in use, a hundred runs of each: the
// races of process exit show only now and then.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "appenders/appender_fixtures.h"
#include "support/test_support.h"

namespace zun {
namespace {

// Fewer under ThreadSanitizer, where each run takes about a second.
constexpr int kRuns = test::kThreadSanitizer ? 10 : 100;

// The host's exit status, or 128 + the signal that ended it.
int RunHost(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    // These hosts end with their threads still running, which the leak
    // checker of a sanitizer build cannot stop; leaks at unload are the
    // dlclose host's test.
    const char* options = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(options != nullptr ? options : "") + ":detect_leaks=0").c_str(), 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

TEST(ExitHost, EndingWithObjectsLeftOrThreadsInsideLogCallsNeverCrashes) {
  for (const char* scenario : {"keep", "threads"}) {
    std::map<int, int> statuses;
    for (int run = 0; run < kRuns; ++run) {
      ++statuses[RunHost({test::HostProgram("exit_host"), ZUNLOGX_SHARED_OBJECT, scenario})];
    }
    EXPECT_EQ((std::map<int, int>{{0, kRuns}}), statuses) << scenario;
  }
}

class ExitFilesTest : public test::TempDirTest {};

// Main returns while four threads log (without and with the worker), or
// while records it logged are still queued: every call that returned
// success has its line in the file, once and whole.
TEST_F(ExitFilesTest, EveryRecordWhoseCallReturnedIsInTheFileAfterExit) {
  for (const char* scenario : {"threads-sync", "threads-async", "unstopped"}) {
    int failedRuns = 0;
    for (int run = 0; run < kRuns; ++run) {
      const std::filesystem::path folder = Dir() / (std::string(scenario) + std::to_string(run));
      std::filesystem::create_directory(folder);
      const int status = RunHost({test::HostProgram("exit_files_host"), folder.string(), scenario});
      std::uint32_t progress[4] = {};
      const std::string bytes = test::ReadFileBytes(folder / "progress");
      if (bytes.size() == sizeof progress) std::memcpy(progress, bytes.data(), sizeof progress);
      std::map<unsigned, std::vector<unsigned>> numbers;
      for (const std::string& line : test::ReadLogLines(folder / "exit.log")) {
        unsigned t = 0, n = 0;
        const std::size_t at = line.find(" MSG:t");
        if (at != std::string::npos && std::sscanf(line.c_str() + at, " MSG:t%u n%u", &t, &n) == 2) {
          numbers[t].push_back(n);
        }
      }
      bool whole = status == 0 && progress[0] >= 200;
      for (unsigned t = 0; t < 4; ++t) {
        std::vector<unsigned>& seen = numbers[t];
        std::sort(seen.begin(), seen.end());
        // The line after the last one counted may have been written too.
        if (seen.size() > progress[t] && seen.back() == progress[t]) seen.pop_back();
        for (unsigned n = 0; n < seen.size(); ++n) whole = whole && seen[n] == n;
        whole = whole && seen.size() == progress[t];
      }
      if (!whole && failedRuns++ == 0) ADD_FAILURE() << scenario << " run " << run << ": status " << status;
    }
    EXPECT_EQ(0, failedRuns) << scenario;
  }
}

}  // namespace
}  // namespace zun
