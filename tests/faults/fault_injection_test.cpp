// Fails each call of the file-call table in turn, with each error a system
// gives, while a fixed workload configures, logs, rolls, reloads, starts
// and stops the worker and shuts down; then reads every file back. Every
// record whose call succeeded must be in its files exactly once and whole,
// no line may be a piece of one, and every file must start with its mark.
// Each faulted run is a child process, so a crash or hang names its fault.
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "core/config_loading.h"
#include "core/log_system.h"
#include "platform/clock.h"
#include "protect/protected_text.h"
#include "support/test_support.h"

namespace zun::test {
namespace {

namespace fs = std::filesystem;

// A short write takes half of what a write asks; every other fault is an
// errno.
constexpr int kShortWrite = 0;
struct Fault {
  const char* name;
  int error;
};
constexpr Fault kFaults[] = {
    {"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EACCES", EACCES},          {"EINTR", EINTR},
    {"EAGAIN", EAGAIN}, {"ENOMEM", ENOMEM}, {"short write", kShortWrite}};

// What the faulted child counts and fails: the Nth call (writes only, for
// a short write) meets the fault.
std::atomic<long> gCalls{0};
long gFailAt = 0;
int gError = 0;
const char* gMet = nullptr;  // the call that met the fault

bool Hit(const char* name, bool isWrite = false) {
  if (gError == kShortWrite && !isWrite) return false;
  if (gCalls.fetch_add(1) + 1 != gFailAt) return false;
  gMet = name;
  errno = gError;
  return true;
}
const FileCalls& Real() { return RealFileCalls(); }

#define ZUN_FAIL_INT(name, ...) \
  if (Hit(#name)) return -1;    \
  return Real().name(__VA_ARGS__)

const FileCalls kFaulty = {
    [](const char* p, int f, mode_t m) { ZUN_FAIL_INT(open, p, f, m); },
    [](int fd) {
      if (Hit("close")) {
        Real().close(fd);  // Linux releases it all the same
        errno = gError;
        return -1;
      }
      return Real().close(fd);
    },
    [](int fd, const void* b, size_t n) -> ssize_t {
      if (!Hit("write", true)) return Real().write(fd, b, n);
      return gError == kShortWrite ? Real().write(fd, b, n / 2) : -1;
    },
    [](int fd, const void* b, size_t n, off_t o) -> ssize_t {
      if (!Hit("pwrite", true)) return Real().pwrite(fd, b, n, o);
      return gError == kShortWrite ? Real().pwrite(fd, b, n / 2, o) : -1;
    },
    [](int fd, void* b, size_t n, off_t o) -> ssize_t { ZUN_FAIL_INT(pread, fd, b, n, o); },
    [](int fd, struct stat* s) { ZUN_FAIL_INT(fstat, fd, s); },
    [](const char* p, struct stat* s) { ZUN_FAIL_INT(stat, p, s); },
    [](int fd, int c, int a) { ZUN_FAIL_INT(fcntl, fd, c, a); },
    [](int fd, off_t o, int w) -> off_t { ZUN_FAIL_INT(lseek, fd, o, w); },
    [](int fd, off_t n) { ZUN_FAIL_INT(ftruncate, fd, n); },
    [](int fd) { ZUN_FAIL_INT(fdatasync, fd); },
    [](const char* p, mode_t m) { ZUN_FAIL_INT(mkdir, p, m); },
    [](const char* p) { ZUN_FAIL_INT(rmdir, p); },
    [](const char* a, const char* b) { ZUN_FAIL_INT(link, a, b); },
    [](const char* p) { ZUN_FAIL_INT(unlink, p); },
    [](const char* p, mode_t m) { ZUN_FAIL_INT(chmod, p, m); },
    [](const char* a, const char* b) { ZUN_FAIL_INT(renameNoReplace, a, b); },
    [](int fd) { ZUN_FAIL_INT(fsync, fd); },
    [](int fd, int c, struct flock* l) { ZUN_FAIL_INT(fcntlLock, fd, c, l); },
    [](void* a, size_t n, int p, int f, int fd, off_t o) -> void* {
      return Hit("mmap") ? MAP_FAILED : Real().mmap(a, n, p, f, fd, o);
    },
    [](void* a, size_t n) { ZUN_FAIL_INT(munmap, a, n); },
    [](int fd) { return Hit("fdopendir") ? nullptr : Real().fdopendir(fd); },
    [](DIR* d) { return Hit("readdir") ? nullptr : Real().readdir(d); },
    [](DIR* d) {
      if (!Hit("closedir")) return Real().closedir(d);
      Real().closedir(d);
      errno = gError;
      return -1;
    },
    [](int f) { ZUN_FAIL_INT(inotifyInit1, f); },
    [](int fd, const char* p, uint32_t m) { ZUN_FAIL_INT(inotifyAddWatch, fd, p, m); },
    [](int fd, void* b, size_t n) -> ssize_t { ZUN_FAIL_INT(read, fd, b, n); },
    [](const char* a, const char* b) { ZUN_FAIL_INT(rename, a, b); },
    [](unsigned i, int f) { ZUN_FAIL_INT(eventfd, i, f); },
    [](pthread_t* t, void* (*body)(void*), void* c) {
      return Hit("threadCreate") ? gError : Real().threadCreate(t, body, c);
    },
    [](size_t n) { ZUN_FAIL_INT(reserveMemory, n); },
};
#undef ZUN_FAIL_INT

// The workload's clock: a minute before midnight until MoveOverMidnight.
FileTime gNow = 0;
FileTime Now() { return gNow; }
std::uint64_t Ticks() { return gNow / 10000; }
const ClockSource kClock{Now, Ticks};

constexpr char16_t kConfiguration[] =
    u"[root]\nSeverity = ALL\nAddAppenders = plain, sized\n"
    u"[daily]\nSeverity = ALL\nAdditive = no\nAddAppenders = dailyFile\n"
    u"[secret]\nSeverity = ALL\nAdditive = no\nAddAppenders = secretFile\n"
    u"[plain]\nType = Appender\nAppenderType = File\nFileName = plain.log\nLayout = line\n"
    u"[sized]\nType = Appender\nAppenderType = RollingFile\nFileName = sized.log\nSize = 700\n"
    u"FilesCount = 100\nLayout = line\n"
    u"[dailyFile]\nType = Appender\nAppenderType = RollingDateFile\nFileName = daily.log\nDaysCount = 30\n"
    u"Layout = line\n"
    u"[secretFile]\nType = Appender\nAppenderType = File\nFileName = secret.log\nLayout = line\n"
    u"[line]\nType = Layout\nLayoutType = Custom\nFormat = %msg\n";

// Which files a record's logger writes: the families of its appenders.
enum Kind { kApp, kDaily, kSecret };
const char* const kFamilies[][2] = {{"plain", "sized"}, {"daily", nullptr}, {"secret", nullptr}};
constexpr ProtectionMode kSessionCipher = 4;

// Runs the workload in `folder` and writes what the parent checks to
// `report`: "K calls writes", "R id kind checked rc line", "C keyline",
// "M call step". Records of the worker's time are not checked for presence:
// failures on that path are dropped by design.
void Workload(const fs::path& folder, std::ostream& report) {
  const WString dir = ToUtf16(folder.string());
  CalendarTime evening{2026, 12, 5, 23, 59, 0, 0, 0};
  CalendarToFileTime(evening, &gNow);
  SetClockSource(&kClock);
  std::string step = "start";
  std::map<std::string, ResultCode> steps;
  auto note = [&](const char* name, ResultCode rc) {
    steps[name] = rc;
    step = name;
  };
  {
    // As the library does, a log system that failed to start is dropped and
    // the next call starts another.
    auto made = std::make_unique<LogSystem>();
    if (Failed(made->Start(dir, dir))) made = std::make_unique<LogSystem>();
    LogSystem& system = *made;
    note("start", system.Start(dir, dir));
    note("load", LoadSourceFile(system, u"faults.cfg", dir, dir));
    ZunLogger* loggers[3] = {};
    const std::uint16_t masks[3] = {58, 58, 57};
    const char16_t* names[3] = {u"app", u"daily", u"secret"};
    for (int k = 0; k < 3; ++k) system.GetLogger(masks[k], names[k], &loggers[k]);
    int id = 0;
    auto log = [&](int count, bool checked) {
      for (int i = 0; i < count; ++i, ++id) {
        const Kind kind = static_cast<Kind>(id % 3);
        const std::string text = "record " + std::to_string(id) + " " + std::string(40 + id % 17, 'x');
        const WString wide = ToUtf16(text);
        const ProtectionMode mode = kind == kSecret ? kSessionCipher : 0;
        ResultCode rc = RC_INVALID_HANDLE;
        if (loggers[kind] != nullptr) {
          rc = loggers[kind]->vtbl->LogFull(loggers[kind], ZUN_SEVERITY_WARN, wide.c_str(), u"f.c", 1, 2, 3,
                                            4, mode, nullptr);
        }
        WString line = wide;
        ProtectionMode after = 0;
        const FileCalls* faulty = &Files();
        SetFileCalls(nullptr);  // the expected form is not part of the workload
        if (mode != 0) MakeProtectedText(mode, wide, line, &after);
        SetFileCalls(faulty);
        report << "R " << id << ' ' << kind << ' ' << checked << ' ' << rc << ' ' << ToUtf8(line) << '\n';
      }
    };
    log(30, true);
    gNow += 2 * 60 * 10000000ull;  // over midnight
    log(30, true);
    note("reload", ReloadConfiguration(system));
    log(12, true);
    note("worker", system.StartAsyncWorker());
    log(24, false);
    system.StopAsyncWorker();
    step = "stopped";
    log(12, true);
    report << "C " << ToUtf8(system.KeyRecordLine()) << '\n';
    step = "shutdown";
  }
  SetFileCalls(nullptr);
  SetClockSource(nullptr);
  report << "K " << gCalls.load() << '\n';
  if (gMet != nullptr) report << "M " << gMet << ' ' << step << '\n';
  for (const auto& [name, rc] : steps) report << "S " << name << ' ' << rc << '\n';
}

struct ChildRun {
  bool finished = false;  // exited with 0 in time
  std::string status;
  std::string report;
};

// Runs `body` in a child that exits with 0 after it, and waits at most 30
// seconds for the child to end.
template <typename Body>
ChildRun RunChild(Body body) {
  int alive[2];
  if (pipe(alive) != 0) return {false, "pipe failed", {}};
  const pid_t child = fork();
  if (child == 0) {
    close(alive[0]);
    body();
    std::exit(0);  // leak checks run at exit
  }
  close(alive[1]);
  ChildRun run;
  pollfd ended{alive[0], POLLIN, 0};
  const bool inTime = poll(&ended, 1, 30000) == 1;
  close(alive[0]);
  if (!inTime) kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  run.finished = inTime && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.status = !inTime               ? "hang"
               : WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                     : "exit " + std::to_string(WEXITSTATUS(status));
  return run;
}

// Runs the workload in a child with the `failAt`th call failing (0: none).
ChildRun RunWorkload(const fs::path& folder, long failAt, int error) {
  const fs::path reportPath = folder / "report.txt";
  ChildRun run = RunChild([&] {
    gFailAt = failAt;
    gError = error;
    gCalls = 0;
    SetFileCalls(&kFaulty);
    std::ofstream report(reportPath);
    Workload(folder, report);
  });
  run.report = ReadFileBytes(reportPath);
  fs::remove(reportPath);
  return run;
}

struct Expected {
  int kind;
  bool mustBeThere;  // its call succeeded outside the worker's time
};

// Problems of one finished run, one per line; empty when all is well.
std::string CheckFolder(const fs::path& folder, const std::string& report) {
  std::map<std::string, int> idOfLine;
  std::vector<Expected> records;
  std::string keyLine, problems;
  std::istringstream in(report);
  for (std::string tag; in >> tag;) {
    std::string rest;
    std::getline(in, rest);
    if (tag == "R") {
      std::istringstream fields(rest);
      int id, kind;
      bool checked;
      ResultCode rc;
      fields >> id >> kind >> checked >> rc;
      std::string line;
      std::getline(fields, line);
      idOfLine[line.substr(1)] = id;
      records.push_back({kind, checked && Succeeded(rc)});
    } else if (tag == "C") {
      keyLine = rest.substr(1);
    }
  }
  if (records.empty()) return "no report\n";
  std::map<std::string, std::vector<int>> counts;  // family -> count per record
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    // A temporary name whose removal failed is a second name of a log; the
    // next start of a log system removes it.
    if (!entry.is_regular_file() || name.ends_with(".lock") || name.ends_with(".cfg") ||
        (name.starts_with("zun-") && name.ends_with(".tmp"))) {
      continue;
    }
    const std::string family = name.substr(0, name.find('.'));
    const std::string bytes = ReadFileBytes(entry.path());
    if (bytes.empty()) continue;
    if (!bytes.starts_with("\xEF\xBB\xBF")) problems += name + ": no mark\n";
    if (!bytes.ends_with("\r\n") && bytes.size() > 3) problems += name + ": ends inside a line\n";
    std::vector<int>& seen = counts[family];
    seen.resize(records.size());
    bool keyed = false;
    std::size_t at = 3;
    while (at < bytes.size()) {
      std::size_t end = bytes.find("\r\n", at);
      if (end == std::string::npos) end = bytes.size();
      const std::string line = bytes.substr(at, end - at);
      at = end + 2;
      if (line.find_first_not_of(' ') == std::string::npos) continue;  // a blanked piece
      if (!keyLine.empty() && line == keyLine) {
        keyed = true;
        continue;
      }
      auto found = idOfLine.find(line);
      // The default configuration's standard lines, while the file failed to
      // load: the message ends the line.
      const std::size_t message = line.find(" MSG:");
      if (family == "common" && message != std::string::npos) found = idOfLine.find(line.substr(message + 5));
      if (found == idOfLine.end()) {
        problems += name + ": foreign or broken line \"" + line.substr(0, 60) + "\"\n";
        continue;
      }
      const int kind = records[found->second].kind;
      if (family != "common" && kFamilies[kind][0] != family &&
          (kFamilies[kind][1] == nullptr || kFamilies[kind][1] != family)) {
        problems += name + ": record " + std::to_string(found->second) + " in the wrong file\n";
      }
      // A file that a plain logger opened has no key record line.
      if (kind == kSecret && !keyed && family != "common")
        problems += name + ": protected line before the key record\n";
      ++seen[found->second];
    }
  }
  const auto countIn = [&](const char* family, std::size_t id) {
    const auto seen = counts.find(family);
    return seen == counts.end() ? 0 : seen->second[id];
  };
  for (std::size_t id = 0; id < records.size(); ++id) {
    const int inDefault = countIn("common", id);
    if (inDefault > 1) problems += "record " + std::to_string(id) + " twice in common\n";
    for (const char* family : kFamilies[records[id].kind]) {
      if (family == nullptr) continue;
      const int n = countIn(family, id);
      if (n > 1 || (n == 0 && inDefault == 0 && records[id].mustBeThere) || (n != 0 && inDefault != 0)) {
        problems += "record " + std::to_string(id) + " in " + family + ": " + std::to_string(n) + " times\n";
      }
    }
  }
  return problems;
}

long ReportNumber(const std::string& report, const std::string& tag, int field) {
  const std::size_t at = report.rfind("\n" + tag + " ");
  if (at == std::string::npos) return -1;
  std::istringstream fields(report.substr(at + tag.size() + 2));
  long value = -1;
  for (int i = 0; i <= field; ++i) fields >> value;
  return value;
}

class FaultInjection : public TempDirTest {
 protected:
  // A fresh folder holding the configuration file.
  fs::path Fresh(const std::string& name) {
    const fs::path folder = Dir() / name;
    fs::remove_all(folder);
    fs::create_directory(folder);
    WriteFileBytes(folder / "faults.cfg", ToUtf8(kConfiguration));
    return folder;
  }
};

TEST_F(FaultInjection, EveryFailedCallLosesNoRecordReportedWritten) {
  const ChildRun clean = RunWorkload(Fresh("clean"), 0, EIO);
  ASSERT_TRUE(clean.finished) << clean.status;
  ASSERT_EQ("", CheckFolder(Dir() / "clean", clean.report));
  const long calls = ReportNumber(clean.report, "K", 0);
  ASSERT_GT(calls, 100);
  // Every call in a full run; else about 700 runs in all (200 under the
  // sanitizers, which make each run far slower), spread evenly.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  constexpr long kRuns = 200;
#else
  constexpr long kRuns = 700;
#endif
  const bool full = std::getenv("ZUNLOGX_FAULTS_FULL") != nullptr;
  long stride = full ? 1 : std::max(1L, calls * 7 / kRuns), only = 0;
  // ZUNLOGX_FAULTS_ONLY=<call>: that call alone, for every fault.
  if (const char* one = std::getenv("ZUNLOGX_FAULTS_ONLY")) only = std::atol(one), stride = calls;
  long runs = 0;
  std::map<std::string, long> metBy;
  std::string failures;
  for (const Fault& fault : kFaults) {
    for (long n = only != 0 ? only : 1 + (stride > 1 ? fault.error % stride : 0); n <= calls; n += stride) {
      const fs::path folder = Fresh("run");
      const ChildRun run = RunWorkload(folder, n, fault.error);
      ++runs;
      const std::string where = std::string(fault.name) + " at call " + std::to_string(n);
      if (!run.finished) {
        failures += where + ": " + run.status + "\n";
        continue;
      }
      const std::size_t met = run.report.find("\nM ");
      if (met == std::string::npos) continue;  // fewer calls this time
      const std::string call = run.report.substr(met + 3, run.report.find(' ', met + 3) - met - 3);
      ++metBy[call];
      const std::string problems = CheckFolder(folder, run.report);
      if (!problems.empty()) failures += where + " (" + call + "):\n" + problems;
    }
  }
  std::string tally;
  for (const auto& [call, count] : metBy) tally += " " + call + "=" + std::to_string(count);
  std::printf("fault injection: %ld calls per workload, stride %ld, %ld runs, faults met:%s, failures %zu\n",
              calls, stride, runs, tally.c_str(),
              static_cast<std::size_t>(std::count(failures.begin(), failures.end(), '\n')));
  EXPECT_EQ("", failures.substr(0, 20000));
}

// A child forked while the parent's rolled logs are being compressed rolls
// its own, logs and ends: the parent's compression thread does not exist
// there, so the child must neither wait for it nor join it.
TEST_F(FaultInjection, ForkedChildRollsAndEndsWithoutTheParentsCompressor) {
  if (test::kThreadSanitizer) GTEST_SKIP() << "threads cannot start in a forked child under ThreadSanitizer";
  const WString dir = ToUtf16(Dir().string());
  LogSystem system;
  ASSERT_RC(RC_OK, system.Start(dir, dir));
  ASSERT_RC(RC_OK,
            ApplySourceText(system,
                            u"[root]\nSeverity = ALL\nAddAppenders = sized\n[sized]\nType = Appender\n"
                            u"AppenderType = RollingFile\nFileName = sized.log\nSize = 300\nFilesCount = 3\n",
                            dir));
  ZunLogger* logger = nullptr;
  ASSERT_RC(RC_OK, system.GetLogger(58, u"app", &logger));
  const auto log = [logger](const char16_t* text) {
    for (int i = 0; i < 20; ++i) {
      if (Failed(logger->vtbl->LogFull(logger, ZUN_SEVERITY_WARN, text, u"f.c", 1, 2, 3, 4, 0, nullptr)))
        return false;
    }
    return true;
  };
  ASSERT_TRUE(log(u"parent line"));
  const ChildRun child = RunChild([&] {
    if (!log(u"child line")) std::_Exit(3);
    system.Flush();
    system.~LogSystem();
  });
  EXPECT_TRUE(child.finished) << child.status;
  EXPECT_TRUE(log(u"parent line"));
}

}  // namespace
}  // namespace zun::test
