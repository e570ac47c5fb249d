#include "bench_harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <latch>
#include <thread>

namespace zbench {

namespace {

struct Options {
  std::string workload;
  Sink sink = Sink::kFile;
  unsigned threads = 1;
  unsigned procs = 4;
  std::uint32_t lines = 100000;
  unsigned files = 10;
  std::size_t queue = 0;
};

bool ParseSink(std::string_view text, Sink* out) {
  static const std::pair<std::string_view, Sink> kSinks[] = {
      {"file", Sink::kFile},     {"buffered", Sink::kBuffered},
      {"rolled", Sink::kRolled}, {"rolled-default", Sink::kRolledDefault},
      {"async", Sink::kAsync},
  };
  for (const auto& [name, sink] : kSinks) {
    if (text == name) {
      *out = sink;
      return true;
    }
  }
  return false;
}

bool ParseOptions(int argc, char** argv, Options* out) {
  if (argc < 3 || !ParseSink(argv[2], &out->sink)) return false;
  out->workload = argv[1];
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string_view name = argv[i];
    const unsigned long value = std::strtoul(argv[i + 1], nullptr, 10);
    if (value == 0) return false;
    if (name == "--threads") {
      out->threads = static_cast<unsigned>(value);
    } else if (name == "--procs") {
      out->procs = static_cast<unsigned>(value);
    } else if (name == "--lines") {
      out->lines = static_cast<std::uint32_t>(value);
    } else if (name == "--files") {
      out->files = static_cast<unsigned>(value);
    } else if (name == "--queue") {
      out->queue = value;
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

// A new folder under $ZUNLOGX_BENCH_DIR, $TMPDIR or /tmp, removed with its
// files when the run ends (kept when $ZUNLOGX_BENCH_KEEP is set).
class FreshFolder {
 public:
  FreshFolder() {
    const char* base = std::getenv("ZUNLOGX_BENCH_DIR");
    if (base == nullptr || *base == 0) base = std::getenv("TMPDIR");
    if (base == nullptr || *base == 0) base = "/tmp";
    std::string pattern = std::string(base) + "/zunlogx-bench-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~FreshFolder() {
    std::error_code ignored;
    if (!path_.empty() && std::getenv("ZUNLOGX_BENCH_KEEP") == nullptr) {
      std::filesystem::remove_all(path_, ignored);
    }
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Resident set and its peak, in bytes, from /proc/self/status.
std::uint64_t StatusBytes(std::string_view field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, field.size(), field) == 0) {
      return std::strtoull(line.c_str() + field.size(), nullptr, 10) * 1024;
    }
  }
  return 0;
}

void ResetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

bool ParseNumber(std::string_view text, std::size_t* position, std::uint32_t* out) {
  std::size_t at = *position;
  std::uint64_t value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && value <= UINT32_MAX) {
    value = value * 10 + static_cast<unsigned>(text[at++] - '0');
  }
  if (at == *position || value > UINT32_MAX) return false;
  *position = at;
  *out = static_cast<std::uint32_t>(value);
  return true;
}

// The process and counter of a whole line (with its CR LF), or false.
bool ParseLine(std::string_view line, std::uint32_t* pid, std::uint32_t* counter) {
  static const std::string logger = std::string("[") + kLoggerName + "]";
  static const std::string head = logger + " WARN ";
  static const std::string source = std::string(" ID:") + kFileId + ":" + std::to_string(kSourceLine) + "." +
                                    kNumbers + " MSG:" + kMessageHead;
  if (!line.ends_with("\r\n")) return false;
  line.remove_suffix(2);
  // A second logger name means the line holds a piece of another.
  if (!line.starts_with(head) || line.find(logger, 1) != line.npos) return false;
  std::size_t at = line.find(" PID:");
  if (at == line.npos) return false;
  at += 5;
  if (!ParseNumber(line, &at, pid) || line.compare(at, 6, " THID:") != 0) return false;
  at = line.find(source, at);
  if (at == line.npos) return false;
  at += source.size();
  return ParseNumber(line, &at, counter) && line.substr(at) == kMessageTail;
}

void Print(const char* name, double value) { std::printf("%s=%.1f ", name, value); }

// Runs `body(thread)` on `threads` threads that start together; the time
// from the start until `body` returned everywhere and `after` returned.
bool TimedThreads(unsigned threads, const std::function<bool(unsigned)>& body,
                  const std::function<bool()>& after, std::uint64_t* elapsedNs) {
  std::latch start(threads + 1);
  std::atomic<bool> ok{true};
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      start.arrive_and_wait();
      if (!body(t)) ok = false;
    });
  }
  start.arrive_and_wait();
  const std::uint64_t begin = NowNs();
  for (std::thread& worker : workers) worker.join();
  const bool afterOk = after();
  *elapsedNs = NowNs() - begin;
  return ok && afterOk;
}

// Everything logged arrived whole, once, and nothing else.
bool CheckTally(const Tally& tally, std::uint64_t expected) {
  if (tally.whole == expected && tally.fragments == 0 && tally.duplicates == 0 && tally.foreign == 0) {
    return true;
  }
  std::fprintf(stderr, "read back %llu whole lines of %llu, %llu fragments, %llu duplicates, %llu foreign\n",
               static_cast<unsigned long long>(tally.whole), static_cast<unsigned long long>(expected),
               static_cast<unsigned long long>(tally.fragments),
               static_cast<unsigned long long>(tally.duplicates),
               static_cast<unsigned long long>(tally.foreign));
  return false;
}

// As CheckTally for `threads` threads of `lines` lines each. A size-rolled
// log removes its oldest backups, so there a thread may miss its first lines,
// but no line after one that was kept.
bool CheckFolder(const Setup& setup, unsigned threads, std::uint32_t lines) {
  const auto pid = static_cast<std::uint32_t>(getpid());
  const std::uint32_t expected = threads * lines;
  Tally tally;
  tally.Expect(pid, expected);
  if (!ReadFolder(setup.folder, tally)) return false;
  if (setup.sink != Sink::kRolled && setup.sink != Sink::kRolledDefault) return CheckTally(tally, expected);
  const std::vector<bool>& seen = tally.seen[pid];
  for (unsigned t = 0; t < threads; ++t) {
    const auto first = seen.begin() + static_cast<std::ptrdiff_t>(t) * lines;
    if (!std::is_partitioned(first, first + lines, [](bool kept) { return !kept; })) {
      std::fprintf(stderr, "a line between two kept lines is missing\n");
      return false;
    }
  }
  return tally.whole > 0 && CheckTally(tally, tally.whole);
}

Status RunSync(const Options& o, Target& target, const Setup& setup) {
  if (Status s = target.Open(setup); s != Status::kOk) return s;
  std::uint64_t elapsed = 0;
  const bool ok = TimedThreads(
      o.threads,
      [&](unsigned t) {
        bool fine = true;
        for (std::uint32_t i = 0; i < o.lines; ++i) fine &= target.Log(t * o.lines + i);
        return fine;
      },
      [&] { return target.Close(); }, &elapsed);
  const double lines = static_cast<double>(o.threads) * o.lines;
  if (!ok || !CheckFolder(setup, o.threads, o.lines)) return Status::kFailed;
  Print("ns_per_line", static_cast<double>(elapsed) / lines);
  return Status::kOk;
}

Status RunLatency(const Options& o, Target& target, const Setup& setup) {
  if (Status s = target.Open(setup); s != Status::kOk) return s;
  std::vector<std::vector<std::uint64_t>> times(o.threads, std::vector<std::uint64_t>(o.lines));
  std::uint64_t elapsed = 0;
  const bool ok = TimedThreads(
      o.threads,
      [&](unsigned t) {
        bool fine = true;
        std::uint64_t* out = times[t].data();
        for (std::uint32_t i = 0; i < o.lines; ++i) {
          const std::uint64_t begin = NowNs();
          fine &= target.Log(t * o.lines + i);
          out[i] = NowNs() - begin;
        }
        return fine;
      },
      [] { return true; }, &elapsed);
  if (!target.Close() || !ok || !CheckFolder(setup, o.threads, o.lines)) return Status::kFailed;
  std::vector<std::uint64_t> all;
  all.reserve(static_cast<std::size_t>(o.threads) * o.lines);
  for (const auto& each : times) all.insert(all.end(), each.begin(), each.end());
  Print("p50_ns", static_cast<double>(Percentile(all, 0.5)));
  Print("p99_ns", static_cast<double>(Percentile(all, 0.99)));
  Print("p999_ns", static_cast<double>(Percentile(all, 0.999)));
  return Status::kOk;
}

Status RunDrain(const Options& o, Target& target, const Setup& setup) {
  if (Status s = target.Open(setup); s != Status::kOk) return s;
  std::uint64_t elapsed = 0;
  const bool ok = TimedThreads(
      1,
      [&](unsigned) {
        bool fine = true;
        for (std::uint32_t i = 0; i < o.lines; ++i) fine &= target.Log(i);
        return fine;
      },
      [&] { return target.Close(); }, &elapsed);
  if (!ok || !CheckFolder(setup, 1, o.lines)) return Status::kFailed;
  Print("lines_per_s", static_cast<double>(o.lines) * 1e9 / static_cast<double>(elapsed));
  return Status::kOk;
}

// Each child process opens its own target, says so through `ready`, waits
// until `go` is closed, logs and closes. Its exit status tells the outcome.
[[noreturn]] void RunChild(const Options& o, const TargetFactory& make, const Setup& setup, int ready,
                           int go) {
  std::unique_ptr<Target> target = make();
  const Status status = target->Open(setup);
  const char answer = status == Status::kOk ? 'r' : status == Status::kUnavailable ? 'u' : 'f';
  bool ok = write(ready, &answer, 1) == 1 && status == Status::kOk;
  char ignored;
  if (ok && read(go, &ignored, 1) == 0) {
    for (std::uint32_t i = 0; i < o.lines; ++i) ok &= target->Log(i);
    ok &= target->Close();
  }
  // Not destroyed: a library that started threads when it was loaded into
  // the parent would wait for them at its shutdown, and they do not exist
  // here. Close has written everything.
  target.release();
  _exit(ok ? 0 : 1);
}

Status RunProcs(const Options& o, const TargetFactory& make, const Setup& setup) {
  int ready[2], go[2];
  if (pipe(ready) != 0 || pipe(go) != 0) return Status::kFailed;
  std::vector<pid_t> children;
  for (unsigned p = 0; p < o.procs; ++p) {
    const pid_t child = fork();
    if (child == 0) {
      close(ready[0]);
      close(go[1]);
      RunChild(o, make, setup, ready[1], go[0]);
    }
    if (child > 0) children.push_back(child);
  }
  close(ready[1]);
  close(go[0]);
  Status status = children.size() == o.procs ? Status::kOk : Status::kFailed;
  std::size_t waiting = 0;
  for (std::size_t i = 0; i < children.size(); ++i) {
    char answer = 'f';
    if (read(ready[0], &answer, 1) != 1 || answer == 'f') status = Status::kFailed;
    if (answer == 'u' && status == Status::kOk) status = Status::kUnavailable;
    if (answer == 'r') ++waiting;
  }
  // Children that wait for the start skip their lines when the run cannot
  // count; the others have exited, and writing to them would raise SIGPIPE.
  if (status != Status::kOk && waiting > 0) {
    const std::string abort(waiting, 'x');
    if (write(go[1], abort.data(), abort.size()) < 0) status = Status::kFailed;
  }
  const std::uint64_t begin = NowNs();
  close(go[1]);
  Tally tally;
  for (const pid_t child : children) {
    int exit = 0;
    if (waitpid(child, &exit, 0) != child || !WIFEXITED(exit) || WEXITSTATUS(exit) != 0) {
      if (status == Status::kOk) status = Status::kFailed;
    }
    tally.Expect(static_cast<std::uint32_t>(child), o.lines);
  }
  const std::uint64_t elapsed = NowNs() - begin;
  close(ready[0]);
  if (status != Status::kOk || !ReadFolder(setup.folder, tally)) {
    return status == Status::kOk ? Status::kFailed : status;
  }
  Print("ns_per_line", static_cast<double>(elapsed) / (static_cast<double>(o.procs) * o.lines));
  Print("lost", static_cast<double>(tally.Lost()));
  Print("split", static_cast<double>(tally.fragments));
  Print("duplicated", static_cast<double>(tally.duplicates));
  return Status::kOk;
}

Status RunFiltered(const Options& o, Target& target, const Setup& setup) {
  if (!target.Filters()) return Status::kUnavailable;
  if (Status s = target.Open(setup); s != Status::kOk) return s;
  std::uint32_t enabled = 0;
  const std::uint64_t begin = NowNs();
  for (std::uint32_t i = 0; i < o.lines; ++i) enabled += target.DebugEnabled() ? 1 : 0;
  const std::uint64_t between = NowNs();
  bool ok = true;
  for (std::uint32_t i = 0; i < o.lines; ++i) ok &= target.LogDebug(i);
  const std::uint64_t end = NowNs();
  if (!target.Close() || !ok || enabled != 0 || !CheckFolder(setup, 1, 0)) return Status::kFailed;
  Print("enabled_ns", static_cast<double>(between - begin) / o.lines);
  Print("call_ns", static_cast<double>(end - between) / o.lines);
  return Status::kOk;
}

// Resident growth while `lines` records wait in the queue behind a stalled
// writer, measured from before the target was opened.
Status RunMemory(const Options& o, Target& target, const Setup& setup) {
  ResetPeakResident();
  const std::uint64_t before = StatusBytes("VmRSS:");
  const bool hold = target.CanHoldWriter();
  int pipeEnd = -1;
  if (!hold) {
    // Opened before the target, so the target's open does not wait for a reader.
    if (mkfifo(setup.path.c_str(), 0600) != 0) return Status::kFailed;
    pipeEnd = open(setup.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (pipeEnd < 0) return Status::kFailed;
  }
  Status status = target.Open(setup);
  if (status == Status::kOk && hold && !target.HoldWriter(true)) status = Status::kFailed;
  if (status != Status::kOk) {
    if (pipeEnd >= 0) close(pipeEnd);
    return status;
  }
  bool ok = true;
  for (std::uint32_t i = 0; i < o.lines; ++i) ok &= target.Log(i);
  const std::uint64_t peak = StatusBytes("VmHWM:");

  Tally tally;
  tally.Expect(static_cast<std::uint32_t>(getpid()), o.lines);
  if (hold) {
    ok &= target.HoldWriter(false) && target.Close() && ReadFolder(setup.folder, tally);
  } else {
    fcntl(pipeEnd, F_SETFL, 0);
    std::thread reader([&] {
      LineReader lines(tally);
      char buffer[1 << 16];
      ssize_t got;
      while ((got = read(pipeEnd, buffer, sizeof buffer)) > 0)
        lines.Feed({buffer, static_cast<std::size_t>(got)});
      lines.Finish();
    });
    ok &= target.Close();
    reader.join();
    close(pipeEnd);
  }
  if (!ok || !CheckTally(tally, o.lines)) return Status::kFailed;
  const std::string line = LinePrefix() + std::to_string(o.lines / 2) + kMessageTail + "\r\n";
  Print("bytes_per_record", static_cast<double>(peak - std::min(peak, before)) / o.lines);
  Print("line_bytes", static_cast<double>(line.size()));
  return Status::kOk;
}

}  // namespace

std::uint64_t NowNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

std::string HostName() {
  utsname names;
  return uname(&names) == 0 ? names.nodename : "localhost";
}

std::uint32_t ThreadId() {
  thread_local const auto id = static_cast<std::uint32_t>(syscall(SYS_gettid));
  return id;
}

std::string LinePrefix() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc;
  gmtime_r(&now.tv_sec, &utc);
  char text[512];
  std::snprintf(text, sizeof text,
                "[%s] WARN %04d-%02d-%02d %02d:%02d:%02d,%03ld %s PID:%d THID:%u ID:%s:%d.%s MSG:%s",
                kLoggerName, utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                utc.tm_sec, now.tv_nsec / 1000000, HostName().c_str(), static_cast<int>(getpid()), ThreadId(),
                kFileId, kSourceLine, kNumbers, kMessageHead);
  return text;
}

std::string_view FormatLine(std::string_view prefix, std::uint32_t counter, char* buffer,
                            std::size_t capacity) {
  static constexpr std::size_t kTail = sizeof kMessageTail - 1;
  char digits[10];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + counter % 10);
    counter /= 10;
  } while (counter != 0);
  if (prefix.size() + count + kTail + 2 > capacity) return {};
  std::memcpy(buffer, prefix.data(), prefix.size());
  std::size_t size = prefix.size();
  while (count > 0) buffer[size++] = digits[--count];
  std::memcpy(buffer + size, kMessageTail, kTail);
  size += kTail;
  buffer[size++] = '\r';
  buffer[size++] = '\n';
  return {buffer, size};
}

void Tally::Expect(std::uint32_t pid, std::uint32_t count) { seen[pid].assign(count, false); }

std::uint64_t Tally::Lost() const {
  std::uint64_t lost = 0;
  for (const auto& [pid, counters] : seen) {
    lost += static_cast<std::uint64_t>(std::count(counters.begin(), counters.end(), false));
  }
  return lost;
}

void Tally::Count(std::string_view line) {
  std::uint32_t pid = 0, counter = 0;
  if (!ParseLine(line, &pid, &counter)) {
    ++fragments;
    return;
  }
  const auto found = seen.find(pid);
  if (found == seen.end() || counter >= found->second.size()) {
    ++foreign;
  } else if (found->second[counter]) {
    ++duplicates;
  } else {
    found->second[counter] = true;
    ++whole;
  }
}

void LineReader::Feed(std::string_view bytes) {
  if (!started_) {
    started_ = true;
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  }
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    if (end == bytes.npos) {
      pending_.append(bytes);
      return;
    }
    if (pending_.empty()) {
      tally_.Count(bytes.substr(0, end + 1));
    } else {
      pending_.append(bytes.substr(0, end + 1));
      tally_.Count(pending_);
      pending_.clear();
    }
    bytes.remove_prefix(end + 1);
  }
}

void LineReader::Finish() {
  if (!pending_.empty()) tally_.Count(pending_);
  pending_.clear();
}

bool ReadFolder(const std::string& folder, Tally& tally) {
  std::error_code error;
  std::vector<char> buffer(1 << 20);
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (!entry.is_regular_file() || entry.path().extension() == ".lock") continue;
    std::ifstream file(entry.path(), std::ios::binary);
    if (!file) return false;
    LineReader lines(tally);
    while (file.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || file.gcount() > 0) {
      lines.Feed({buffer.data(), static_cast<std::size_t>(file.gcount())});
    }
    lines.Finish();
  }
  return !error;
}

std::uint64_t Percentile(std::vector<std::uint64_t>& values, double p) {
  if (values.empty()) return 0;
  const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
  const auto at =
      values.begin() + static_cast<std::ptrdiff_t>(std::clamp<std::size_t>(rank, 1, values.size()) - 1);
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

int RunMain(int argc, char** argv, const TargetFactory& make) {
  using Workload = Status (*)(const Options&, Target&, const Setup&);
  static constexpr std::pair<std::string_view, Workload> kWorkloads[] = {
      {"sync", RunSync},         {"latency", RunLatency}, {"drain", RunDrain},
      {"filtered", RunFiltered}, {"memory", RunMemory},
  };
  Options o;
  const bool parsed = ParseOptions(argc, argv, &o);
  const auto* workload = std::find_if(std::begin(kWorkloads), std::end(kWorkloads),
                                      [&](const auto& entry) { return entry.first == o.workload; });
  if (!parsed || (workload == std::end(kWorkloads) && o.workload != "procs")) {
    std::fprintf(
        stderr,
        "usage: %s sync|latency|drain|procs|filtered|memory file|buffered|rolled|rolled-default|async"
        " [--threads N] [--procs N] [--lines N] [--files N] [--queue N]\n",
        argv[0]);
    return 2;
  }
  FreshFolder folder;
  if (folder.Path().empty()) return 1;
  Setup setup;
  setup.sink = o.sink;
  setup.folder = folder.Path();
  setup.path = folder.Path() + "/bench.log";
  setup.files = o.files;
  setup.queue = o.queue;

  Status status;
  if (workload == std::end(kWorkloads)) {
    status = RunProcs(o, make, setup);
  } else {
    std::unique_ptr<Target> target = make();
    status = workload->second(o, *target, setup);
  }
  std::printf("\n");
  if (status == Status::kUnavailable) {
    std::fprintf(stderr, "%s %s: not available in this build\n", argv[1], argv[2]);
    return 77;
  }
  return status == Status::kOk ? 0 : 1;
}

}  // namespace zbench
