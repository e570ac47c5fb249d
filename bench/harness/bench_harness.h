#pragma once
// What every program of the logging comparison shares: the one line they all
// write, the workloads and how they are timed, percentiles, resident memory,
// and reading the written files back to count whole, lost and split lines.
//
// A program supplies a Target (one library set up for one kind of sink) and
// calls RunMain, which reads the command line
//   WORKLOAD SINK [--threads N] [--procs N] [--lines N] [--files N] [--queue N]
// runs the workload in a fresh folder, checks what reached the files and
// prints one line of name=value results. Exit status 0: measured; 77: this
// build cannot run the case; anything else: the case failed.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zbench {

// The parts of the line. Every program writes, with CR LF at the end:
// [Zun.Agent.Session] WARN 2024-05-01 12:34:56,789 host PID:p THID:t ID:server/session.cpp:418.7021.55102.3
// MSG:session <counter> of operator closed after 2500 ms
// (one line), the library's standard message line with the time in UTC.
inline constexpr char kLoggerName[] = "Zun.Agent.Session";
inline constexpr char kFileId[] = "server/session.cpp";
inline constexpr int kSourceLine = 418;
// Build, revision and product, which the peers print as fixed text.
inline constexpr char kNumbers[] = "7021.55102.3";
inline constexpr char kMessageHead[] = "session ";
inline constexpr char kMessageTail[] = " of operator closed after 2500 ms";
inline constexpr char kPeer[] = "operator";
inline constexpr int kDuration = 2500;
inline constexpr std::uint32_t kRolledFileBytes = 1024 * 1024;

enum class Sink {
  kFile,           // one file; every line reaches the OS as it is logged
  kBuffered,       // one file with the library's own buffering
  kRolled,         // size-rolled (kRolledFileBytes, Setup::files backups), every line to the OS
  kRolledDefault,  // size-rolled with the library's default settings
  kAsync,          // one file written by the library's background worker
};

struct Setup {
  Sink sink = Sink::kFile;
  std::string folder;  // fresh, on the file system under test
  std::string path;    // the log file: folder + "/bench.log"
  unsigned files = 10;
  std::size_t queue = 0;  // records the background queue must hold; 0: the library's default
};

enum class Status { kOk, kUnavailable, kFailed };

// One library, set up for one sink. Log, DebugEnabled and LogDebug may run on
// several threads at once; the other operations run on one thread.
class Target {
 public:
  virtual ~Target() = default;
  virtual Status Open(const Setup& setup) = 0;
  // One WARN line carrying `counter`.
  virtual bool Log(std::uint32_t counter) = 0;
  // Whether DEBUG would be written; the logger's threshold is INFO.
  virtual bool DebugEnabled() = 0;
  // A full DEBUG call that the configuration filters out.
  virtual bool LogDebug(std::uint32_t counter) = 0;
  virtual bool Filters() const { return true; }
  // Whether HoldWriter works; otherwise the memory workload stalls the writer
  // by making the log file a pipe that nobody reads.
  virtual bool CanHoldWriter() const { return false; }
  // Stops (true) or releases (false) the background writer, so that logged
  // records stay queued.
  virtual bool HoldWriter(bool hold) { return !hold; }
  // Everything logged so far is in the files, which are closed.
  virtual bool Close() = 0;
};

using TargetFactory = std::function<std::unique_ptr<Target>()>;

int RunMain(int argc, char** argv, const TargetFactory& make);

// Helpers the targets use.
std::uint64_t NowNs();
// Node name, as the library's host name falls back to it.
std::string HostName();
std::uint32_t ThreadId();
// "[logger] WARN <now> host PID:p THID:t ID:file:line.numbers MSG:session ".
std::string LinePrefix();
// The whole line for `counter` after `prefix`, CR LF included, in `buffer`;
// empty when `capacity` is too small.
std::string_view FormatLine(std::string_view prefix, std::uint32_t counter, char* buffer,
                            std::size_t capacity);

// Reading the files back. A whole line is the exact shape above, alone
// between two CR LF; anything else between line ends is a fragment.
struct Tally {
  std::uint64_t whole = 0;
  std::uint64_t fragments = 0;
  std::uint64_t duplicates = 0;                     // whole lines seen before
  std::uint64_t foreign = 0;                        // whole lines of an unexpected process or counter
  std::map<std::uint32_t, std::vector<bool>> seen;  // per process: counters found

  // Lines are expected from `pid` with counters 0 .. count-1.
  void Expect(std::uint32_t pid, std::uint32_t count);
  // Expected lines not found whole.
  std::uint64_t Lost() const;
  void Count(std::string_view line);
};

// Feeds a stream of file bytes, possibly in pieces, to a Tally; a UTF-8 mark
// at the start of the stream is skipped.
class LineReader {
 public:
  explicit LineReader(Tally& tally) : tally_(tally) {}
  void Feed(std::string_view bytes);
  // End of the stream: what is left after the last line end is a fragment.
  void Finish();

 private:
  Tally& tally_;
  std::string pending_;
  bool started_ = false;
};

// Reads every file of `folder` but lock files into `tally`.
bool ReadFolder(const std::string& folder, Tally& tally);

// The value at fraction `p` (0..1) of `values`, which it reorders.
std::uint64_t Percentile(std::vector<std::uint64_t>& values, double p);

}  // namespace zbench
