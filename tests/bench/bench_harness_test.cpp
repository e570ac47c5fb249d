// Reading written logs back and judging a run: the counts of lost and split
// lines the comparison reports, and its refusal to report a run that lost,
// cut or doubled a line, come from here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "bench_harness.h"

namespace {

std::string Line(std::uint32_t counter) {
  return zbench::LinePrefix() + std::to_string(counter) + zbench::kMessageTail + "\r\n";
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

TEST(LineReaderTest, CountsWholeLostSplitDoubledAndForeignLines) {
  const std::string pid = "PID:" + std::to_string(getpid());
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t piece;                    // bytes per Feed; 0: all at once
    std::array<std::uint64_t, 5> counts;  // whole, fragments, duplicates, foreign, lost
  };
  const Case cases[] = {
      {"three lines after a mark", "\xEF\xBB\xBF" + Line(0) + Line(1) + Line(2), 0, {3, 0, 0, 0, 0}},
      {"fed seven bytes at a time", Line(0) + Line(1) + Line(2), 7, {3, 0, 0, 0, 0}},
      {"last line cut short", Line(0) + Line(1) + Line(2).substr(0, 50), 0, {2, 1, 0, 0, 1}},
      {"broken by another",
       Line(0).substr(0, 40) + Line(1) + Line(2) + Line(0).substr(40),
       0,
       {1, 2, 0, 0, 2}},
      {"line end without CR", Line(0) + Replace(Line(1), "\r\n", "\n") + Line(2), 0, {2, 1, 0, 0, 1}},
      {"other message text", Replace(Line(0), "2500 ms", "250 ms") + Line(1), 0, {1, 1, 0, 0, 2}},
      {"a line twice", Line(0) + Line(0) + Line(1), 0, {2, 0, 1, 0, 1}},
      {"counter out of range", Line(7) + Line(0), 0, {1, 0, 0, 1, 2}},
      {"another process", Replace(Line(0), pid, "PID:1") + Line(1), 0, {1, 0, 0, 1, 2}},
  };
  for (const Case& c : cases) {
    zbench::Tally tally;
    tally.Expect(static_cast<std::uint32_t>(getpid()), 3);
    zbench::LineReader reader(tally);
    const std::size_t piece = c.piece == 0 ? c.bytes.size() : c.piece;
    for (std::size_t at = 0; at < c.bytes.size(); at += piece)
      reader.Feed(std::string_view(c.bytes).substr(at, piece));
    reader.Finish();
    const std::array<std::uint64_t, 5> counts = {tally.whole, tally.fragments, tally.duplicates,
                                                 tally.foreign, tally.Lost()};
    EXPECT_EQ(c.counts, counts) << c.name;
  }
}

TEST(PercentileTest, NearestRank) {
  std::vector<std::uint64_t> hundred;
  for (std::uint64_t v = 100; v >= 1; --v) hundred.push_back(v);
  const struct {
    std::vector<std::uint64_t> values;
    double p;
    std::uint64_t expected;
  } cases[] = {
      {hundred, 0.5, 50}, {hundred, 0.99, 99}, {hundred, 0.999, 100}, {{7}, 0.5, 7}, {{}, 0.5, 0},
  };
  for (auto c : cases) EXPECT_EQ(c.expected, zbench::Percentile(c.values, c.p)) << c.p;
}

enum class Fault { kNone, kDrop, kTwice, kCut };

// Appends the line like the bare write, with one fault on the counters
// where counter % every == at, and the counters below `dropFirst` dropped.
struct Faults {
  std::uint32_t every = 0;
  std::uint32_t at = 0;
  Fault fault = Fault::kNone;
  std::uint32_t dropFirst = 0;
};

class FaultyTarget final : public zbench::Target {
 public:
  explicit FaultyTarget(Faults faults) : faults_(faults) {}
  ~FaultyTarget() override { Close(); }
  zbench::Status Open(const zbench::Setup& setup) override {
    fd_ = open(setup.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    return fd_ >= 0 ? zbench::Status::kOk : zbench::Status::kFailed;
  }
  bool Log(std::uint32_t counter) override {
    thread_local const std::string prefix = zbench::LinePrefix();
    char buffer[600];
    std::string_view line = zbench::FormatLine(prefix, counter, buffer, sizeof buffer);
    Fault fault = faults_.every != 0 && counter % faults_.every == faults_.at ? faults_.fault : Fault::kNone;
    if (counter < faults_.dropFirst) fault = Fault::kDrop;
    if (fault == Fault::kCut) line = line.substr(0, line.size() / 2);
    const int times = fault == Fault::kDrop ? 0 : fault == Fault::kTwice ? 2 : 1;
    for (int i = 0; i < times; ++i) {
      if (write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return false;
    }
    return true;
  }
  bool DebugEnabled() override { return false; }
  bool LogDebug(std::uint32_t) override { return true; }
  bool Close() override {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return true;
  }

 private:
  Faults faults_;
  int fd_ = -1;
};

TEST(RunMainTest, ReportsOnlyRunsWhoseLinesAllArrivedAndCountsTheProcessCase) {
  const struct {
    const char* name;
    Faults faults;
    std::vector<std::string> arguments;
    int exit;
    std::string output;
  } cases[] = {
      {"every line once", {}, {"sync", "file", "--threads", "2", "--lines", "500"}, 0, "ns_per_line="},
      {"a line lost", {1000, 100, Fault::kDrop}, {"sync", "file", "--lines", "500"}, 1, ""},
      {"a line twice", {1000, 7, Fault::kTwice}, {"latency", "file", "--lines", "500"}, 1, ""},
      {"a line cut", {1000, 7, Fault::kCut}, {"drain", "file", "--lines", "500"}, 1, ""},
      {"rolled, oldest gone", {0, 0, Fault::kNone, 50}, {"sync", "rolled", "--lines", "500"}, 0, "ns_per"},
      {"rolled, a later line lost", {1000, 100, Fault::kDrop}, {"sync", "rolled", "--lines", "500"}, 1, ""},
      // Each cut line swallows the next one into its fragment.
      {"process case counts",
       {10, 5, Fault::kCut},
       {"procs", "file", "--procs", "1", "--lines", "100"},
       0,
       "lost=20.0 split=10.0 duplicated=0.0"},
      {"no such workload", {}, {"run", "file"}, 2, ""},
  };
  for (const auto& c : cases) {
    std::vector<char*> argv{const_cast<char*>("bench")};
    for (const std::string& argument : c.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    testing::internal::CaptureStdout();
    const int exit = zbench::RunMain(static_cast<int>(argv.size()), argv.data(),
                                     [&] { return std::make_unique<FaultyTarget>(c.faults); });
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(c.exit, exit) << c.name;
    EXPECT_NE(std::string::npos, output.find(c.output)) << c.name << ": " << output;
  }
}

}  // namespace
