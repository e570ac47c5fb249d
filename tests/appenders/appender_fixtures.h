#pragma once
// Pieces shared by the appender tests: configuration sections from text,
// file appenders, records, log files read back as lines, many writers on one
// file, and a logger tree writing into files.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <barrier>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "appenders/appender_owner.h"
#include "appenders/custom_layout.h"
#include "appenders/file_appender.h"
#include "appenders/rolling_names.h"
#include "appenders/standard_layout.h"
#include "config/config_document.h"
#include "config/config_reader.h"
#include "core/dispatcher.h"
#include "core/logger_tree.h"
#include "hosts/append_lines.h"
#include "platform/clock.h"
#include "records/log_record.h"
#include "support/test_support.h"

namespace zun::test {

// The UTC time of a calendar day and time of day.
inline FileTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0) {
  FileTime time = 0;
  EXPECT_EQ(0u, CalendarToFileTime({year, month, day, hour, minute, second, ms, 0}, &time));
  return time;
}

// The first section of configuration text, read as files are read.
inline ConfigSectionRef SectionFromText(WStringView text) {
  ConfigDocument document;
  MemoryLineSource source(text);
  EXPECT_RC(RC_OK, ParseDocument(document, source));
  ConfigSectionRef section;
  EXPECT_RC(RC_OK, document.EnumerateSections().Current(&section));
  return section;
}

// A custom layout from its keys, e.g. u"Format = %msg\nHeader = head".
inline std::unique_ptr<CustomLayout> MakeLayout(WStringView keys) {
  auto layout = std::make_unique<CustomLayout>(WString(u"L"));
  EXPECT_RC(RC_OK, layout->LoadConfig(*SectionFromText(u"[L]\nLayoutType = Custom\n" + WString(keys))));
  return layout;
}

// A file appender with `folder` as its log folder, configured from `keys`.
inline std::unique_ptr<FileAppender> MakeFileAppender(AppenderOwner* owner,
                                                      const std::filesystem::path& folder, WStringView keys) {
  std::unique_ptr<FileAppender> appender;
  EXPECT_RC(RC_OK, FileAppender::Create(owner, u"file", ToUtf16(folder.string()), &appender));
  EXPECT_RC(RC_OK, appender->LoadConfig(*SectionFromText(u"[file]\nAppenderType = File\n" + WString(keys))));
  return appender;
}

inline LogRecord MakeRecord(Severity severity, WStringView message, SharedText keyRecordLine = nullptr) {
  LogRecord record;
  record.severity = severity;
  record.message = WString(message);
  record.keyRecordLine = std::move(keyRecordLine);
  return record;
}

// The lines of UTF-8 log file content; fails unless it starts with the mark
// (when `marked`) and every line ends in CR LF.
inline std::vector<std::string> LogLines(const std::string& bytes, const std::string& name,
                                         bool marked = true) {
  std::vector<std::string> lines;
  if (marked) {
    EXPECT_EQ(0u, bytes.rfind("\xEF\xBB\xBF", 0)) << "no UTF-8 mark at the start of " << name;
  }
  for (std::size_t at = marked ? 3 : 0; at < bytes.size();) {
    const std::size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated line at offset " << at << " of " << name;
      break;
    }
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}
inline std::vector<std::string> ReadLogLines(const std::filesystem::path& path) {
  return LogLines(ReadFileBytes(path), path.string());
}

// Writer id to the number of lines it wrote (indexes 0 .. count - 1).
using AppendWriters = std::map<unsigned, unsigned>;

// Checks that `lines` hold exactly the lines of `writers`, each once, whole,
// in any order; `text` gives the line of a writer and index (by default
// AppendLineText). A writer in `stopped` (a process that was killed) may
// lack the lines after its last one, but not one before it.
inline void ExpectEveryLineOnce(const std::vector<std::string>& lines, const AppendWriters& writers,
                                std::function<std::string(unsigned, unsigned)> text = {},
                                const std::set<unsigned>& stopped = {}) {
  if (!text) text = [](unsigned writer, unsigned index) { return ToUtf8(AppendLineText(writer, index)); };
  std::map<unsigned, std::vector<bool>> seen;
  for (const auto& [writer, count] : writers) seen[writer].assign(count, false);
  std::size_t malformed = 0, duplicates = 0, missing = 0;
  for (const std::string& line : lines) {
    unsigned writer = 0, index = 0;
    const auto it =
        std::sscanf(line.c_str(), "w%u n%u ", &writer, &index) == 2 ? seen.find(writer) : seen.end();
    if (it == seen.end() || index >= it->second.size() || text(writer, index) != line) {
      if (malformed++ == 0) ADD_FAILURE() << "first malformed line: " << line.substr(0, 200);
      continue;
    }
    duplicates += it->second[index] ? 1 : 0;
    it->second[index] = true;
  }
  for (auto& [writer, flags] : seen) {
    if (stopped.count(writer) != 0) {
      while (!flags.empty() && !flags.back()) flags.pop_back();
    }
    for (const bool present : flags) missing += present ? 0 : 1;
  }
  EXPECT_EQ(0u, malformed);
  EXPECT_EQ(0u, duplicates);
  EXPECT_EQ(0u, missing);
}

// How append_host processes write one log together.
struct AppendRun {
  AppendRun(unsigned processes, unsigned threads, unsigned lines)
      : processes(processes), threads(threads), lines(lines) {}
  unsigned processes;
  unsigned threads;
  unsigned lines;
  std::vector<std::string> keys;  // "Key=Value" settings of the appender section
  std::vector<std::string> env;   // "NAME=value" for every host
  // The last host appends as another program would, the others see a slow
  // file system (append_host "plain" and "slow").
  bool race = false;
};

// Starts one append_host on `path` with the threads, lines, settings and
// environment of `run`, its writers numbered from `first`, in `mode`
// ("plain", "slow", or none). It writes once descriptor `start`, which it
// sees as 100, reaches its end.
inline pid_t StartAppendHost(const std::filesystem::path& path, const AppendRun& run, unsigned first,
                             const char* mode, int start) {
  const std::string host = HostProgram("append_host");
  std::vector<std::string> args = {
      host, path.string(), std::to_string(first), std::to_string(run.lines), std::to_string(run.threads),
      "100"};
  if (mode != nullptr) args.emplace_back(mode);
  args.insert(args.end(), run.keys.begin(), run.keys.end());
  std::vector<std::string> env = run.env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  std::vector<char*> argv, envp;
  for (auto& arg : args) argv.push_back(arg.data());
  for (auto& entry : env) envp.push_back(entry.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (dup2(start, 100) < 0) _exit(126);
    execve(host.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  EXPECT_NE(-1, pid);
  return pid;
}

// Starts the hosts, lets them write at once and waits for them. Writer ids
// go to `writers`; returns each host's wait status, first host first.
inline std::vector<int> RunAppendHosts(const std::filesystem::path& path, const AppendRun& run,
                                       AppendWriters* writers) {
  int start[2];
  EXPECT_EQ(0, pipe2(start, O_CLOEXEC));
  std::vector<pid_t> children;
  for (unsigned p = 0; p < run.processes; ++p) {
    const unsigned first = 1000 + 100 * p;
    for (unsigned t = 0; t < run.threads; ++t) (*writers)[first + t] = run.lines;
    const char* mode = !run.race ? nullptr : p + 1 == run.processes ? "plain" : "slow";
    const pid_t pid = StartAppendHost(path, run, first, mode, start[0]);
    if (pid > 0) children.push_back(pid);
  }
  close(start[0]);
  close(start[1]);  // every host sees the end of the pipe and starts
  std::vector<int> statuses;
  for (const pid_t pid : children) {
    int status = 0;
    EXPECT_EQ(pid, waitpid(pid, &status, 0));
    statuses.push_back(status);
  }
  return statuses;
}

inline bool ExitedWell(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

// Runs `body` in a child process that exits with its result, which must be 0.
inline void ExpectChildExitsZero(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) _exit(body());
  int status = -1;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
}

// Runs `processes` append_host programs on `path` at once, each with
// `threads` threads of `lines` lines; each must exit 0, and then the file
// must start with the mark and hold every line once, whole. With `race`, the
// last process appends as another program would and the others see a slow
// file system.
inline void AppendFromProcesses(const std::filesystem::path& path, unsigned processes, unsigned threads,
                                unsigned lines, bool race = false) {
  AppendWriters writers;
  AppendRun run(processes, threads, lines);
  run.race = race;
  for (const int status : RunAppendHosts(path, run, &writers)) {
    EXPECT_TRUE(ExitedWell(status)) << "append_host status " << status;
  }
  ExpectEveryLineOnce(ReadLogLines(path), writers);
}

// Records what appenders report, from any thread; writes nothing.
class RecordingOwner final : public AppenderOwner {
 public:
  ResultCode Dispatch(Logger*, LogRecord&&) noexcept override { return RC_NOT_SUPPORTED; }
  ResultCode ReportRolledFile(WStringView path) noexcept override {
    std::lock_guard<std::mutex> guard(lock_);
    rolled.emplace_back(path);
    return RC_OK;
  }
  ResultCode WatchFolder(WStringView) noexcept override { return RC_NOT_SUPPORTED; }
  ResultCode ReportOpenedFile(WStringView path) noexcept override {
    std::lock_guard<std::mutex> guard(lock_);
    opened.emplace_back(path);
    return RC_OK;
  }
  std::vector<WString> rolled, opened;  // read once the writers are done

 private:
  std::mutex lock_;
};

// The names in `dir`, sorted.
inline std::set<std::string> FileNames(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Whether `name` is a file of the rolled log "<family>.log": the log, a
// backup or a dated file, not the lock file.
inline bool IsRolledLogFile(const std::string& name, const std::string& family = "common") {
  return name.starts_with(family + ".") && !name.ends_with(".lock");
}

// The lines of every file of the rolled log "<family>.log" in `dir`, each
// checked as ReadLogLines does.
inline std::vector<std::string> ReadRolledLines(const std::filesystem::path& dir,
                                                const std::string& family = "common") {
  std::vector<std::string> lines;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!IsRolledLogFile(entry.path().filename().string(), family)) continue;
    const std::vector<std::string> more = ReadLogLines(entry.path());
    lines.insert(lines.end(), more.begin(), more.end());
  }
  return lines;
}

struct RolledLogRun {
  std::size_t files = 0, rolls = 0, late = 0;
  std::uintmax_t bytes = 0;  // of the log files
};

// Runs the hosts of `run` on the rolled log "common.log" in `dir`; with
// `dieAtRoll`, the first host to make that many rolls of its own kills
// itself in that roll. The others must exit well, and every line must be in
// the log files (the log, backups, dated files) once, whole (the dead host's
// up to its last). Late lines are those beyond the size each file had just
// after the rename that moved it away, as the hosts note "<inode> <size>" in
// their roll log (a line landing between the rename and that look is
// missed). Prints and returns the counts.
inline RolledLogRun RunOnRolledLog(const std::filesystem::path& dir, AppendRun run, unsigned dieAtRoll = 0) {
  const std::filesystem::path rollLog = dir / "rolls.txt";
  run.env.push_back("ZUNLOGX_TEST_ROLL_LOG=" + rollLog.string());
  if (dieAtRoll != 0) {
    run.env.push_back("ZUNLOGX_TEST_DIE_AT_ROLL=" + std::to_string(dieAtRoll));
    run.env.push_back("ZUNLOGX_TEST_DIE_TOKEN=" + (dir / "died").string());
  }
  AppendWriters writers;
  const std::vector<int> statuses = RunAppendHosts(dir / "common.log", run, &writers);
  std::set<unsigned> stopped;
  for (unsigned p = 0; p < statuses.size(); ++p) {
    if (WIFSIGNALED(statuses[p]) && WTERMSIG(statuses[p]) == SIGKILL && dieAtRoll != 0 && stopped.empty()) {
      for (unsigned t = 0; t < run.threads; ++t) stopped.insert(1000 + 100 * p + t);
    } else {
      EXPECT_TRUE(ExitedWell(statuses[p])) << "host " << p << " status " << statuses[p];
    }
  }
  EXPECT_EQ(dieAtRoll != 0, !stopped.empty()) << "one host died in a roll";

  RolledLogRun seen;
  std::map<unsigned long long, std::size_t> sizeAtRoll;
  std::istringstream rolls(ReadFileBytes(rollLog));
  for (unsigned long long inode = 0, size = 0; rolls >> inode >> size; ++seen.rolls) sizeAtRoll[inode] = size;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!IsRolledLogFile(entry.path().filename().string())) continue;
    ++seen.files;
    const std::string bytes = ReadFileBytes(entry.path());
    seen.bytes += bytes.size();
    struct stat info {};
    const auto it = stat(entry.path().c_str(), &info) == 0 ? sizeAtRoll.find(info.st_ino) : sizeAtRoll.end();
    for (std::size_t at = it == sizeAtRoll.end() ? std::string::npos : bytes.find("\r\n", it->second);
         at != std::string::npos; at = bytes.find("\r\n", at + 2)) {
      ++seen.late;
    }
  }
  ExpectEveryLineOnce(ReadRolledLines(dir), writers, {}, stopped);
  std::printf("%u processes x %u lines: %zu files, %zu rolls, %zu late lines\n", run.processes,
              run.lines * run.threads, seen.files, seen.rolls, seen.late);
  return seen;
}

// `processes` hosts of one thread write `lines` lines each into one log
// rolled at `limit` bytes; with `dieAtRoll`, the first host dies in that
// roll. Besides RunOnRolledLog's checks: files stay near the limit on
// average (a roller descheduled while it holds the lock lets one grow
// further), and a writer's line lands late only when it races the rename
// itself: less than once per writer and roll.
inline void ShareSizeRolledLog(const std::filesystem::path& dir, unsigned processes, unsigned lines,
                               unsigned limit, unsigned dieAtRoll = 0) {
  AppendRun run(processes, 1, lines);
  run.keys = {"AppenderType=RollingFile", "Size=" + std::to_string(limit), "FilesCount=100"};
  const RolledLogRun seen = RunOnRolledLog(dir, run, dieAtRoll);
  EXPECT_GE(seen.files, seen.rolls) << "every roll kept its backup";
  EXPECT_LT(seen.bytes / seen.files, 2 * limit);
  EXPECT_LT(seen.late, processes * seen.rolls) << "less than one late line per writer and roll";
}

// The same for a day-rolled log, with the hosts' clocks showing `start`
// now and running `speed` times as fast: one file for each day the log saw,
// each named by its date.
inline void ShareDayRolledLog(const std::filesystem::path& dir, unsigned processes, unsigned lines,
                              FileTime start, std::uint64_t speed) {
  AppendRun run(processes, 1, lines);
  run.keys = {"AppenderType=RollingDateFile", "FilesCount=100000"};
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  run.env = {"ZUNLOGX_TEST_CLOCK=" + std::to_string(start) + " " +
             std::to_string(now.tv_sec * 1000000000ull + now.tv_nsec) + " " + std::to_string(speed)};
  const RolledLogRun seen = RunOnRolledLog(dir, run);
  EXPECT_GE(seen.rolls, 1u) << "the run crossed midnight";
  EXPECT_EQ(seen.files, seen.rolls + 1);
  for (const std::string& name : FileNames(dir)) {
    EXPECT_TRUE(name == "common.log" || name == "common.log.lock" || name == "rolls.txt" ||
                IsDatedName(u"common.log", ToUtf16(name)))
        << name;
  }
  EXPECT_LT(seen.late, processes * seen.rolls) << "less than one late line per writer and roll";
}

// A logger tree whose dispatcher writes at once, with file appenders in the
// temporary folder that render the standard layout.
class LoggerFilesTest : public TempDirTest {
 protected:
  void AddFileAppender(Logger* logger, const std::string& fileName) {
    appenders_.push_back(MakeFileAppender(&dispatcher_, Dir(), u"FileName = " + ToUtf16(fileName) + u"\n"));
    appenders_.back()->AttachLayout(&layout_);
    EXPECT_RC(RC_OK, LoggerTree::AddAppender(logger, appenders_.back().get()));
  }
  Logger* Get(WStringView name, std::uint32_t mask = 58) {
    Logger* logger = nullptr;
    EXPECT_RC(RC_OK, tree_.GetOrCreate(&logger, mask, name));
    return logger;
  }
  // A C host's printf-style call from "main.c" line 12.
  static ZunResult LogFormat(Logger* logger, std::int32_t severity, std::uint32_t protectionMode,
                             const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    const ZunResult rc = logger->Interface()->vtbl->LogFull(logger->Interface(), severity, format, u"main.c",
                                                            12, 3, 4, 5, protectionMode, &args);
    va_end(args);
    return rc;
  }

  // 8 threads log `lines` lines each, even ones through "alpha" and odd ones
  // through "beta", into one file through one shared appender or one each;
  // every 97th line is long, and each thread closes the file now and then.
  // Then every line must be in the file once, whole.
  void LogFromEightThreads(bool shareAppender, unsigned lines) {
    const std::string file = shareAppender ? "shared.log" : "two.log";
    Logger* loggers[2] = {Get(u"alpha"), Get(u"beta")};
    LoggerTree::ClearAppenders(loggers[0]);
    LoggerTree::ClearAppenders(loggers[1]);
    AddFileAppender(loggers[0], file);
    if (shareAppender) {
      ASSERT_RC(RC_OK, LoggerTree::AddAppender(loggers[1], appenders_.back().get()));
    } else {
      AddFileAppender(loggers[1], file);
    }
    const std::u16string padding(3000, u'x');
    RunThreads(8, [&](unsigned t) {
      for (unsigned n = 0; n < lines; ++n) {
        EXPECT_RC(RC_OK, LogFormat(loggers[t % 2], ZUN_SEVERITY_INFO, 0, u"%s%s",
                                   AppendLineText(t, n).c_str(), n % 97 == 0 ? padding.c_str() : u""));
        if (n % 1000 == 999) EXPECT_RC(RC_OK, LoggerTree::FlushTree(loggers[t % 2]));
      }
    });
    AppendWriters writers;
    for (unsigned t = 0; t < 8; ++t) writers[t] = lines;
    std::vector<std::string> messages;
    for (const std::string& line : ReadLogLines(PathOf(file))) {
      const std::size_t at = line.find(" MSG:w");
      const bool beta = at != std::string::npos && (line[at + 6] - '0') % 2 == 1;
      EXPECT_EQ(beta ? "[beta] INFO " : "[alpha] INFO ", line.substr(0, beta ? 12 : 13));
      messages.push_back(at == std::string::npos ? line : line.substr(at + 5));
    }
    ExpectEveryLineOnce(messages, writers, [](unsigned writer, unsigned index) {
      return ToUtf8(AppendLineText(writer, index)) + std::string(index % 97 == 0 ? 3000 : 0, 'x');
    });
  }

  Dispatcher dispatcher_;
  StandardLayout layout_{std::u16string(u"defaultLayout")};
  LoggerTree tree_{&dispatcher_};
  std::vector<std::unique_ptr<FileAppender>> appenders_;  // destroyed first
};

}  // namespace zun::test
