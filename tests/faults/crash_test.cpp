// Writer processes of one rolled log killed at random moments (inside a
// write, a roll under the lock, a day roll's temporary file): the others go
// on, every line a killed writer wrote before its last one is there, every
// file has its mark, and a writer started afterwards goes on in the same log.
#include <chrono>
#include <random>

#include "appenders/appender_fixtures.h"

namespace zun::test {
namespace {

class CrashTest : public TempDirTest {};

TEST_F(CrashTest, KilledWritersLoseNoLineOfTheOthersAndTheLogGoesOn) {
  constexpr unsigned kWriters = 6, kLines = 3000;
  // The day-rolled log's clock runs 100000 times as fast: a day in under a
  // second.
  const std::string clock =
      "ZUNLOGX_TEST_CLOCK=" + std::to_string(kFileTimeUnixEpoch + 20000ull * 86400 * 10000000) + " " +
      std::to_string(std::chrono::system_clock::now().time_since_epoch().count()) + " 100000";
  const struct {
    const char* name;
    std::vector<std::string> keys, env;
  } cases[] = {
      {"sized", {"AppenderType=RollingFile", "Size=16384", "FilesCount=300"}, {}},
      {"daily", {"AppenderType=RollingDateFile", "DaysCount=100000"}, {clock}},
  };
  const int never = open("/dev/null", O_RDONLY | O_CLOEXEC);  // a start signal at once
  std::mt19937 random(20261205);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path log = PathOf(std::string(c.name) + ".log");
    AppendWriters writers;
    const auto start = [&](unsigned writer, unsigned lines) {
      AppendRun run(1, 1, lines);
      run.keys = c.keys;
      run.env = c.env;
      writers[writer] = lines;
      return StartAppendHost(log, run, writer, nullptr, never);
    };
    // Writers 1000 + w; the even ones die, each at its own random moment
    // while all write, with lines enough never to finish first.
    std::vector<pid_t> pids;
    for (unsigned w = 0; w < kWriters; ++w)
      pids.push_back(start(1000 + w, w % 2 == 0 ? 100 * kLines : kLines));
    std::set<unsigned> killed;
    for (unsigned w = 0; w < kWriters; w += 2) {
      usleep(std::uniform_int_distribution<unsigned>(2000, 40000)(random));
      kill(pids[w], SIGKILL);
      killed.insert(1000 + w);
    }
    for (unsigned w = 0; w <= kWriters; ++w) {
      // A writer started afterwards finds the log as the killed ones left it.
      if (w == kWriters) pids.push_back(start(2000, 200));
      int status = 0;
      ASSERT_EQ(pids[w], waitpid(pids[w], &status, 0));
      EXPECT_TRUE(killed.count(1000 + w) != 0 ? WIFSIGNALED(status) : ExitedWell(status))
          << "writer " << w << " status " << status;
    }
    ExpectEveryLineOnce(ReadRolledLines(Dir(), c.name), writers, {}, killed);
    int temporaries = 0;
    for (const std::string& name : FileNames(Dir()))
      temporaries += name.starts_with("zun-") && name.ends_with(".tmp");
    // Only a writer killed between creating a new day's file and naming it
    // leaves its temporary file.
    EXPECT_LE(temporaries, static_cast<int>(killed.size()));
    EXPECT_TRUE(std::filesystem::exists(log));
  }
  close(never);
}

}  // namespace
}  // namespace zun::test
