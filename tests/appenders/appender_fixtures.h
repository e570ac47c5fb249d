#pragma once
// Pieces shared by the appender tests: configuration sections from text,
// file appenders, records, log files read back as lines, many writers on one
// file, and a logger tree writing into files.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <type_traits>

#include "appenders/appender_owner.h"
#include "appenders/custom_layout.h"
#include "appenders/file_appender.h"
#include "appenders/rolling_date_file_appender.h"
#include "appenders/rolling_file_appender.h"
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

// A file appender of type T, named "file", with `folder` as its log folder,
// configured from `keys` and writing through `layout` when one is given.
template <typename T = FileAppender>
std::unique_ptr<T> MakeFileAppender(AppenderOwner* owner, const std::filesystem::path& folder,
                                    WStringView keys, const Layout* layout = nullptr) {
  const WStringView type = std::is_same_v<T, FileAppender>          ? u"File"
                           : std::is_same_v<T, RollingFileAppender> ? u"RollingFile"
                                                                    : u"RollingDateFile";
  std::unique_ptr<T> appender;
  EXPECT_RC(RC_OK, T::Create(owner, u"file", ToUtf16(folder.string()), &appender));
  EXPECT_RC(RC_OK, appender->LoadConfig(
                       *SectionFromText(u"[file]\nAppenderType = " + WString(type) + u"\n" + WString(keys))));
  if (layout != nullptr) appender->AttachLayout(layout);
  return appender;
}

inline LogRecord MakeRecord(Severity severity, WStringView message, SharedText keyRecordLine = nullptr) {
  LogRecord record;
  record.severity = severity;
  record.message = WString(message);
  record.keyRecordLine = std::move(keyRecordLine);
  return record;
}

// The keys of `section` as "Key=value" joined by spaces, in table order,
// leaving out those in `hidden`.
inline std::string KeysText(const ConfigSection& section, const std::set<std::string>& hidden = {}) {
  std::string text;
  for (const auto& [name, key] : section.Keys()) {
    const std::string pair = ToUtf8(name) + "=" + ToUtf8(key->Value());
    if (hidden.count(pair) == 0) text += (text.empty() ? "" : " ") + pair;
  }
  return text;
}

// Appends an INFO record of `message`, which must succeed.
inline void AppendInfo(Appender& appender, WStringView message) {
  EXPECT_RC(RC_OK, appender.Append(MakeRecord(kSeverityInfo, message)));
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
  for (std::string& entry : CurrentEnvironment()) env.push_back(std::move(entry));
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

// 8 threads append `lines` lines each into `path` through `appenders`
// appenders of that file, thread t through appender t % `appenders`; every
// 97th line is long, and each thread closes the file now and then. Then
// every line must be in the file once, whole.
inline void AppendFromEightThreads(const std::filesystem::path& path, unsigned appenders, unsigned lines) {
  const auto layout = MakeLayout(u"Format = %msg\n");
  std::vector<std::unique_ptr<FileAppender>> made;
  for (unsigned a = 0; a < appenders; ++a) {
    made.push_back(MakeFileAppender(nullptr, path.parent_path(),
                                    u"FileName = " + ToUtf16(path.filename().string()) + u"\n",
                                    layout.get()));
  }
  const auto text = [](unsigned t, unsigned n) {
    return AppendLineText(t, n) + WString(n % 97 == 0 ? 3000 : 0, u'x');
  };
  RunThreads(8, [&](unsigned t) {
    for (unsigned n = 0; n < lines; ++n) {
      AppendInfo(*made[t % appenders], text(t, n));
      EXPECT_RC(RC_OK, n % 1000 == 999 ? made[t % appenders]->Flush() : RC_OK);
    }
  });
  made.clear();
  AppendWriters writers;
  for (unsigned t = 0; t < 8; ++t) writers[t] = lines;
  ExpectEveryLineOnce(ReadLogLines(path), writers,
                      [&](unsigned t, unsigned n) { return ToUtf8(text(t, n)); });
}

// Records what appenders report, from any thread; writes nothing.
class RecordingOwner final : public AppenderOwner {
 public:
  ResultCode Dispatch(Logger*, LogRecord&&) noexcept override { return RC_NOT_SUPPORTED; }
  ResultCode ReportRolledFile(WStringView path) noexcept override { return Note(rolled, path); }
  ResultCode WatchFolder(WStringView) noexcept override { return RC_NOT_SUPPORTED; }
  ResultCode ReportOpenedFile(WStringView path) noexcept override { return Note(opened, path); }
  std::vector<WString> rolled, opened;  // read once the writers are done

 private:
  ResultCode Note(std::vector<WString>& list, WStringView path) {
    std::lock_guard<std::mutex> guard(lock_);
    list.emplace_back(path);
    return RC_OK;
  }
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

// `processes` hosts of one thread write `lines` lines each into the rolled
// log "common.log" in `dir`: rolled at `limit` bytes or, when `limit` is 0,
// at midnight by the hosts' clocks, which show `start` now and run `speed`
// times as fast. With `dieAtRoll`, the first host to make that many rolls of
// its own kills itself in that roll. The others must exit well, and every
// line must be in the log files once, whole (the dead host's up to its
// last). A size-rolled log keeps every backup (the hosts note each roll in
// their roll log) and its files stay near the limit on average (a roller
// descheduled while it holds the lock lets one grow further); a day-rolled
// log has one file for each day it saw, each named by its date.
inline void ShareRolledLog(const std::filesystem::path& dir, unsigned processes, unsigned lines,
                           unsigned limit, unsigned dieAtRoll = 0, FileTime start = 0,
                           std::uint64_t speed = 1) {
  AppendRun run(processes, 1, lines);
  const std::filesystem::path rollLog = dir / "rolls.txt";
  run.env = {"ZUNLOGX_TEST_ROLL_LOG=" + rollLog.string()};
  if (limit != 0) {
    run.keys = {"AppenderType=RollingFile", "Size=" + std::to_string(limit), "FilesCount=100"};
  } else {
    run.keys = {"AppenderType=RollingDateFile", "FilesCount=100000"};
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    run.env.push_back("ZUNLOGX_TEST_CLOCK=" + std::to_string(start) + " " +
                      std::to_string(std::chrono::nanoseconds(now).count()) + " " + std::to_string(speed));
  }
  if (dieAtRoll != 0) {
    run.env.push_back("ZUNLOGX_TEST_DIE_AT_ROLL=" + std::to_string(dieAtRoll));
    run.env.push_back("ZUNLOGX_TEST_DIE_TOKEN=" + (dir / "died").string());
  }
  AppendWriters writers;
  const std::vector<int> statuses = RunAppendHosts(dir / "common.log", run, &writers);
  std::set<unsigned> stopped;
  for (unsigned p = 0; p < statuses.size(); ++p) {
    if (WIFSIGNALED(statuses[p]) && WTERMSIG(statuses[p]) == SIGKILL && dieAtRoll != 0 && stopped.empty()) {
      stopped.insert(1000 + 100 * p);
    } else {
      EXPECT_TRUE(ExitedWell(statuses[p])) << "host " << p << " status " << statuses[p];
    }
  }
  EXPECT_EQ(dieAtRoll != 0, !stopped.empty()) << "one host died in a roll";
  ExpectEveryLineOnce(ReadRolledLines(dir), writers, {}, stopped);

  std::size_t files = 0, rolls = 0, bytes = 0;
  std::istringstream rollLines(ReadFileBytes(rollLog));
  for (std::string roll; std::getline(rollLines, roll);) ++rolls;
  for (const std::string& name : FileNames(dir)) {
    if (limit == 0) {
      EXPECT_TRUE(name == "common.log" || name == "common.log.lock" || name == "rolls.txt" ||
                  IsDatedName(u"common.log", ToUtf16(name)))
          << name;
    }
    if (!IsRolledLogFile(name)) continue;
    ++files;
    bytes += ReadFileBytes(dir / name).size();
  }
  if (limit != 0) {
    EXPECT_GE(files, rolls) << "every roll kept its backup";
    EXPECT_LT(bytes / files, 2 * limit);
  } else {
    EXPECT_GE(rolls, 1u) << "the run crossed midnight";
    EXPECT_EQ(files, rolls + 1);
  }
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

  Dispatcher dispatcher_;
  StandardLayout layout_{std::u16string(u"defaultLayout")};
  LoggerTree tree_{&dispatcher_};
  std::vector<std::unique_ptr<FileAppender>> appenders_;  // destroyed first
};

}  // namespace zun::test
