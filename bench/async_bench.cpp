// The asynchronous path: what a log call costs the calling thread while the
// worker runs (each call timed on its own, reported as median and 99th
// percentile), and how fast the worker's drain writes queued records to a
// file.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "appenders/file_appender.h"
#include "appenders/standard_layout.h"
#include "bench_support.h"
#include "config/config_document.h"
#include "config/config_reader.h"
#include "core/log_system.h"
#include "platform/file_calls.h"
#include "platform/thread.h"

namespace zun {
namespace {

using Clock = std::chrono::steady_clock;

ZunResult LogOne(ZunLogger* logger, unsigned n) {
  return bench::LogFormat(logger, bench::kFormat, n, u"operator", 2500);
}

// A started log system whose logger "Zun.Agent.Session" writes to a file
// in a fresh folder, removed at exit.
class Setup {
 public:
  static Setup& Get() {
    static Setup setup;
    return setup;
  }
  ZunLogger* Logger() { return logger_; }
  LogSystem& System() { return system_; }

 private:
  Setup() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/zunlogx-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    ConfigDocument document;
    MemoryLineSource text(u"[bench]\nAppenderType = File\nFileName = async.log\n");
    ConfigSectionRef section;
    zun::Logger* logger = nullptr;
    // The default configuration's root appender is emptied, so only the
    // measured file is written.
    if (Failed(system_.Start(u"", ToUtf16(folder_.string()))) ||
        Failed(LoggerTree::ReplaceAppenders(&system_.Tree().Root(), {})) ||
        Failed(ParseDocument(document, text)) || Failed(document.EnumerateSections().Current(&section)) ||
        Failed(FileAppender::Create(&system_.RecordDispatcher(), u"bench", ToUtf16(folder_.string()),
                                    &appender_)) ||
        Failed(appender_->LoadConfig(*section)) ||
        Failed(system_.Tree().GetOrCreate(&logger, 58, u"Zun.Agent.Session"))) {
      return;
    }
    appender_->AttachLayout(&layout_);
    if (Succeeded(LoggerTree::AddAppender(logger, appender_.get()))) logger_ = logger->Interface();
  }
  ~Setup() {
    system_.StopAsyncWorker();
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }

  std::filesystem::path folder_;
  StandardLayout layout_{std::u16string(u"defaultLayout")};
  std::unique_ptr<FileAppender> appender_;  // destroyed after the system's last drain
  LogSystem system_;
  ZunLogger* logger_ = nullptr;
};

// The clock's own cost, taken off every timed call.
double ClockCostNs() {
  std::vector<double> samples(10000);
  for (double& sample : samples) {
    const auto start = Clock::now();
    const auto end = Clock::now();
    sample = std::chrono::duration<double, std::nano>(end - start).count();
  }
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

double Percentile(std::vector<double>& samples, double fraction) {
  const auto at = samples.begin() + static_cast<std::ptrdiff_t>(fraction * (samples.size() - 1));
  std::nth_element(samples.begin(), at, samples.end());
  return *at;
}

// One producer with the worker running. Calls come in bursts of 2048 that
// the queue holds easily; between bursts (untimed) the queue is written
// out, so the worker never falls far behind and no record is discarded.
void BM_ProducerWithWorker(benchmark::State& state) {
  Setup& setup = Setup::Get();
  ZunLogger* logger = setup.Logger();
  if (logger == nullptr || Failed(setup.System().StartAsyncWorker())) {
    state.SkipWithError("setting up the log system failed");
    return;
  }
  constexpr unsigned kBurst = 2048;
  const double clockCost = ClockCostNs();
  std::vector<double> samples;
  samples.reserve(1 << 22);
  unsigned n = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    const ZunResult rc = LogOne(logger, n);
    const auto end = Clock::now();
    if (Failed(rc)) {
      state.SkipWithError("log call failed");
      break;
    }
    if (samples.size() < samples.capacity()) {
      samples.push_back(std::chrono::duration<double, std::nano>(end - start).count() - clockCost);
    }
    if (++n % kBurst == 0) {
      state.PauseTiming();
      setup.System().Handler().Drain();
      state.ResumeTiming();
    }
  }
  setup.System().StopAsyncWorker();
  if (samples.empty()) return;
  state.counters["p50_ns"] = Percentile(samples, 0.50);
  state.counters["p99_ns"] = Percentile(samples, 0.99);
  state.counters["p999_ns"] = Percentile(samples, 0.999);
}
BENCHMARK(BM_ProducerWithWorker)->Iterations(2000000);

// The drain alone: records queued while no worker could start, then written
// by one Drain, timed, into the file. The rate counts the process's CPU time,
// so other work on a shared machine does not count against it; the wall
// time is reported beside it.
void BM_DrainToFile(benchmark::State& state) {
  Setup& setup = Setup::Get();
  ZunLogger* logger = setup.Logger();
  AsyncHandler& handler = setup.System().Handler();
  FileCalls refusing = RealFileCalls();
  refusing.threadCreate = [](pthread_t*, void* (*)(void*), void*) { return ENOMEM; };
  SetFileCalls(&refusing);
  const bool queued = logger != nullptr && Failed(handler.StartWorker()) && handler.IsRunning();
  SetFileCalls(nullptr);
  if (!queued) {
    state.SkipWithError("queueing without a worker failed");
    return;
  }
  const auto records = static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    for (unsigned n = 0; n < records; ++n) (void)LogOne(logger, n);
    state.ResumeTiming();
    handler.Drain();
  }
  handler.StopWorker();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * records);
}
BENCHMARK(BM_DrainToFile)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zun

BENCHMARK_MAIN();
