// The soak: eight processes of eight threads log numbered lines for minutes
// (ZUNLOGX_SOAK_SECONDS, 600 by default) into a size-rolled and a
// day-rolled log, half of them through the asynchronous worker, while the
// configuration file is rewritten every few seconds and the day rolls every
// few seconds on the hosts' fast clock. Every line a host reports logged is
// then in each log exactly once, whole, in files that start with their mark.
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "appenders/appender_fixtures.h"

namespace zun::test {
namespace {

constexpr unsigned kProcesses = 8;
constexpr unsigned kThreads = 8;
// A day every five seconds.
constexpr std::uint64_t kClockSpeed = 86400 / 5;
constexpr auto kRewriteEvery = std::chrono::seconds(3);

class SoakTest : public TempDirTest {
 protected:
  // Rewritten whole and renamed into place, as an editor saves; `toggle`
  // flips the threshold of a logger nothing logs through.
  void WriteConfiguration(bool toggle) {
    std::string text =
        "[soak]\nAdditive = false\nSeverity = Info\nAddAppenders = sized, dated\n\n"
        "[toggle]\nAdditive = false\nSeverity = " +
        std::string(toggle ? "Error" : "Info") +
        "\n\n[sized]\nType = Appender\nAppenderType = RollingFile\nSize = 1048576\nFilesCount = 100000\n"
        "FileName = " +
        PathOf("sized/soak.log").string() +
        "\nLayout = line\n\n[dated]\nType = Appender\nAppenderType = RollingDateFile\nFilesCount = 100000\n"
        "FileName = " +
        PathOf("dated/soak.log").string() +
        "\nLayout = line\n\n[line]\nType = Layout\nLayoutType = Custom\n" + "Format = %msg\n";
    WriteFileBytes(PathOf("soak.cfg.new"), text);
    std::filesystem::rename(PathOf("soak.cfg.new"), PathOf("soak.cfg"));
  }

  // Starts the hosts; each one's output goes to host<p>.out.
  std::vector<pid_t> StartHosts(unsigned seconds) {
    int start[2];
    EXPECT_EQ(0, pipe2(start, O_CLOEXEC));
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const std::string clock = "ZUNLOGX_TEST_CLOCK=" + std::to_string(At(2031, 1, 1, 23, 59, 58)) + " " +
                              std::to_string(now.tv_sec * 1000000000ull + now.tv_nsec) + " " +
                              std::to_string(kClockSpeed);
    std::vector<std::string> env = {clock, "XDG_STATE_HOME=" + PathOf("state").string(),
                                    "ALLUSERSPROFILE=" + PathOf("shared").string()};
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    std::vector<pid_t> children;
    for (unsigned p = 0; p < kProcesses; ++p) {
      std::vector<std::string> args = {HostProgram("soak_host"), PathOf("soak.cfg").string(),
                                       std::to_string(p),        std::to_string(kThreads),
                                       std::to_string(seconds),  "100"};
      if (p % 2 == 1) args.push_back("async");
      std::vector<char*> argv, envp;
      for (auto& arg : args) argv.push_back(arg.data());
      for (auto& entry : env) envp.push_back(entry.data());
      argv.push_back(nullptr);
      envp.push_back(nullptr);
      const std::string out = PathOf("host" + std::to_string(p) + ".out").string();
      const pid_t pid = fork();
      if (pid == 0) {
        if (dup2(start[0], 100) < 0 || dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1) < 0)
          _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
      }
      EXPECT_NE(-1, pid);
      if (pid > 0) children.push_back(pid);
    }
    close(start[0]);
    close(start[1]);
    return children;
  }
};

struct Written {
  std::map<unsigned, unsigned> calls;             // writer -> calls made
  std::map<unsigned, std::set<unsigned>> failed;  // writer -> indexes of failed calls
  unsigned reloads = 0;
};

struct Found {
  std::size_t files = 0, lines = 0, malformed = 0, keyRecords = 0;
  std::map<unsigned, std::vector<std::uint8_t>> seen;  // writer -> occurrences by index
};

// Every file of the log in `dir` read back, each line whole or counted
// malformed; a key record line, written at each file's start, is no record.
Found ReadLog(const std::filesystem::path& dir, const Written& written) {
  Found found;
  for (const auto& [writer, calls] : written.calls) found.seen[writer].assign(calls, 0);
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    EXPECT_FALSE(name.starts_with("zun-") && name.ends_with(".tmp")) << name;
    if (name.ends_with(".lock") || !name.starts_with("soak.")) continue;
    ++found.files;
    for (const std::string& line : ReadLogLines(entry.path())) {
      unsigned writer = 0, index = 0;
      const auto it = std::sscanf(line.c_str(), "w%u n%u ", &writer, &index) == 2 ? found.seen.find(writer)
                                                                                  : found.seen.end();
      if (line.starts_with("[ZUN.LOG.SM] ")) {
        ++found.keyRecords;
      } else if (it == found.seen.end() || index >= it->second.size() ||
                 ToUtf8(AppendLineText(writer, index)) != line) {
        if (found.malformed++ == 0) ADD_FAILURE() << "first malformed line in " << name << ": " << line;
      } else {
        ++found.lines;
        ++it->second[index];
      }
    }
  }
  return found;
}

TEST_F(SoakTest, EveryLineOfManyProcessesSurvivesRollsAndReloads) {
  const char* setting = std::getenv("ZUNLOGX_SOAK_SECONDS");
  const unsigned seconds = setting != nullptr ? static_cast<unsigned>(std::atoi(setting)) : 600;
  WriteConfiguration(false);
  const auto begun = std::chrono::steady_clock::now();
  const std::vector<pid_t> hosts = StartHosts(seconds);
  unsigned rewrites = 0;
  while (std::chrono::steady_clock::now() - begun < std::chrono::seconds(seconds)) {
    std::this_thread::sleep_for(kRewriteEvery);
    WriteConfiguration(++rewrites % 2 == 1);
  }
  for (const pid_t pid : hosts) {
    int status = -1;
    EXPECT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "soak_host status " << status;
  }

  Written written;
  for (unsigned p = 0; p < kProcesses; ++p) {
    std::istringstream out(ReadFileBytes(PathOf("host" + std::to_string(p) + ".out")));
    for (std::string word; out >> word;) {
      unsigned writer = 0, value = 0;
      std::string code;
      if (word == "writer" && out >> writer >> value) written.calls[writer] = value;
      if (word == "failed" && out >> writer >> value >> code) written.failed[writer].insert(value);
      if (word == "reloads" && out >> value) written.reloads += value;
      if (word == "flush" && out >> code) {
        EXPECT_EQ("0x00000000", code) << "host " << p;
      }
    }
  }
  ASSERT_EQ(kProcesses * kThreads, written.calls.size());
  std::size_t calls = 0, failures = 0;
  for (const auto& [writer, count] : written.calls) calls += count;
  for (const auto& [writer, indexes] : written.failed) failures += indexes.size();
  EXPECT_EQ(0u, failures) << "log calls failed";

  for (const char* log : {"sized", "dated"}) {
    const Found found = ReadLog(PathOf(log), written);
    std::size_t missing = 0, doubled = 0;
    for (const auto& [writer, seen] : found.seen) {
      const auto& failed = written.failed[writer];
      for (unsigned i = 0; i < seen.size(); ++i) {
        doubled += seen[i] > 1 ? 1 : 0;
        missing += seen[i] == 0 && failed.count(i) == 0 ? 1 : 0;
      }
    }
    EXPECT_EQ(0u, found.malformed) << log;
    EXPECT_EQ(0u, missing) << log;
    EXPECT_EQ(0u, doubled) << log;
    EXPECT_GE(found.files, 2u) << log << " rolled";
    std::printf(
        "%s log: %u processes x %u threads, %u s: %zu calls (%zu failed), %zu lines found, %zu files, "
        "%zu key records, %u configuration rewrites, %u reloads seen\n",
        log, kProcesses, kThreads, seconds, calls, failures, found.lines, found.files, found.keyRecords,
        rewrites, written.reloads);
  }
}

}  // namespace
}  // namespace zun::test
