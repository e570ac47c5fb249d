// The soak: eight processes of eight threads log numbered lines for minutes
// (ZUNLOGX_SOAK_SECONDS, 600 by default) into a size-rolled and a
// day-rolled log, half of them through the asynchronous worker, while the
// configuration file is rewritten every few seconds and the day rolls every
// few seconds on the hosts' fast clock. Every line a host reports logged is
// then in each log exactly once, whole, in files that start with their mark.
#include <chrono>
#include <cstdlib>

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
        "[soak]\nAdditive = false\nSeverity = Info\nAddAppenders = sized, dated\n[toggle]\n"
        "Additive = false\nSeverity = " +
        std::string(toggle ? "Error" : "Info") +
        "\n[line]\nType = Layout\nLayoutType = Custom\nFormat = %msg\n";
    for (const std::string log : {"sized", "dated"}) {
      text += "[" + log + "]\nType = Appender\nFilesCount = 100000\nLayout = line\nFileName = " +
              PathOf(log + "/soak.log").string() +
              (log == "sized" ? "\nAppenderType = RollingFile\nSize = 1048576\n"
                              : "\nAppenderType = RollingDateFile\n");
    }
    WriteFileBytes(PathOf("soak.cfg.new"), text);
    std::filesystem::rename(PathOf("soak.cfg.new"), PathOf("soak.cfg"));
  }
};

TEST_F(SoakTest, EveryLineOfManyProcessesSurvivesRollsAndReloads) {
  const char* setting = std::getenv("ZUNLOGX_SOAK_SECONDS");
  const unsigned seconds = setting != nullptr ? static_cast<unsigned>(std::atoi(setting)) : 600;
  WriteConfiguration(false);
  // The hosts run on a fast clock.
  std::vector<std::string> environment = CurrentEnvironment();
  environment.push_back("ZUNLOGX_TEST_CLOCK=" + std::to_string(At(2031, 1, 1, 23, 59, 58)) + " " +
                        std::to_string(std::chrono::system_clock::now().time_since_epoch().count()) + " " +
                        std::to_string(kClockSpeed));
  // Each host starts at once (its start descriptor is at its end) and prints
  // what it logged; one more thread rewrites the configuration meanwhile.
  const int started = open("/dev/null", O_RDONLY);
  std::vector<std::string> outputs(kProcesses);
  unsigned rewrites = 0;
  RunThreads(kProcesses + 1, [&](unsigned p) {
    const auto begun = std::chrono::steady_clock::now();
    while (p == kProcesses && std::chrono::steady_clock::now() - begun < std::chrono::seconds(seconds)) {
      std::this_thread::sleep_for(kRewriteEvery);
      WriteConfiguration(++rewrites % 2 == 1);
    }
    if (p == kProcesses) return;
    outputs[p] = RunInChild(environment, [&] {
      const std::string host = HostProgram("soak_host"), config = PathOf("soak.cfg").string();
      dup2(started, 100);
      execl(host.c_str(), host.c_str(), config.c_str(), std::to_string(p).c_str(),
            std::to_string(kThreads).c_str(), std::to_string(seconds).c_str(), "100",
            p % 2 == 1 ? "async" : nullptr, nullptr);
      return std::string("exec failed");
    });
  });
  close(started);

  AppendWriters writers;
  std::size_t calls = 0, failures = 0, reloads = 0;
  for (unsigned p = 0; p < kProcesses; ++p) {
    EXPECT_TRUE(outputs[p].ends_with('\n')) << "soak_host " << p << ": " << outputs[p];
    std::istringstream out(outputs[p]);
    for (std::string word, code; out >> word;) {
      unsigned writer = 0, value = 0;
      if (word == "writer" && out >> writer >> value) calls += writers[writer] = value;
      if (word == "failed" && out >> writer >> value >> code) ++failures;
      if (word == "reloads" && out >> value) reloads += value;
      if (word == "flush" && out >> code) {
        EXPECT_EQ("0x00000000", code) << "host " << p;
      }
    }
  }
  ASSERT_EQ(kProcesses * kThreads, writers.size());
  EXPECT_EQ(0u, failures) << "log calls failed";
  EXPECT_GT(reloads, 0u) << "no host saw the configuration change";

  for (const char* log : {"sized", "dated"}) {
    SCOPED_TRACE(log);
    std::size_t files = 0;
    for (const std::string& name : FileNames(PathOf(log))) {
      EXPECT_FALSE(name.starts_with("zun-") && name.ends_with(".tmp")) << name;
      files += IsRolledLogFile(name, "soak");
    }
    EXPECT_GE(files, 2u) << "rolled";
    // A key record line, written at each file's start, is no record.
    std::vector<std::string> lines = ReadRolledLines(PathOf(log), "soak");
    std::erase_if(lines, [](const std::string& line) { return line.starts_with("[ZUN.LOG.SM] "); });
    ExpectEveryLineOnce(lines, writers);
    std::printf("%s log, %u s: %zu calls, %zu lines found in %zu files, %u configuration rewrites\n", log,
                seconds, calls, lines.size(), files, rewrites);
  }
}

}  // namespace
}  // namespace zun::test
