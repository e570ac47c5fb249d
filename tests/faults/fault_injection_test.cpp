// Fails each call of the file-call table in turn, with each error a system
// gives, while a fixed workload configures, logs, rolls, reloads, starts
// and stops the worker and shuts down; then reads every file back. Every
// record whose call succeeded must be in its files exactly once and whole,
// no line may be a piece of one, and every file must start with its mark.
// Each faulted run is a child process, so a crash or hang names its fault.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
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
constexpr std::pair<const char*, int> kFaults[] = {
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

// At its turn a call fails, returning `failed` with errno set; a close
// releases all the same, as Linux does.
#define ZUN_FAULTY(name, failed) [](auto... a) { return Hit(#name) ? (failed) : Real().name(a...); }
#define ZUN_FAULTY_CLOSE(name)   ZUN_FAULTY(name, (Real().name(a...), errno = gError, -1))
#define ZUN_FAULTY_WRITE(name)                                            \
  [](int fd, const void* b, size_t n, auto... at) -> ssize_t {            \
    if (!Hit(#name, true)) return Real().name(fd, b, n, at...);           \
    return gError == kShortWrite ? Real().name(fd, b, n / 2, at...) : -1; \
  }

const FileCalls kFaulty = {
    ZUN_FAULTY(open, -1),
    ZUN_FAULTY_CLOSE(close),
    ZUN_FAULTY_WRITE(write),
    ZUN_FAULTY_WRITE(pwrite),
    ZUN_FAULTY(pread, -1),
    ZUN_FAULTY(fstat, -1),
    ZUN_FAULTY(stat, -1),
    ZUN_FAULTY(fcntl, -1),
    ZUN_FAULTY(lseek, -1),
    ZUN_FAULTY(ftruncate, -1),
    ZUN_FAULTY(fdatasync, -1),
    ZUN_FAULTY(mkdir, -1),
    ZUN_FAULTY(rmdir, -1),
    ZUN_FAULTY(link, -1),
    ZUN_FAULTY(unlink, -1),
    ZUN_FAULTY(chmod, -1),
    ZUN_FAULTY(renameNoReplace, -1),
    ZUN_FAULTY(fsync, -1),
    ZUN_FAULTY(fcntlLock, -1),
    ZUN_FAULTY(mmap, MAP_FAILED),
    ZUN_FAULTY(munmap, -1),
    ZUN_FAULTY(fdopendir, nullptr),
    ZUN_FAULTY(readdir, nullptr),
    ZUN_FAULTY_CLOSE(closedir),
    ZUN_FAULTY(inotifyInit1, -1),
    ZUN_FAULTY(inotifyAddWatch, -1),
    ZUN_FAULTY(read, -1),
    ZUN_FAULTY(rename, -1),
    ZUN_FAULTY(eventfd, -1),
    ZUN_FAULTY(threadCreate, gError),
    ZUN_FAULTY(reserveMemory, -1),
};
#undef ZUN_FAULTY_WRITE
#undef ZUN_FAULTY_CLOSE
#undef ZUN_FAULTY

// The workload's clock: a minute before midnight until it is moved on.
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
const std::set<std::string> kFamilies[] = {{"plain", "sized"}, {"daily"}, {"secret"}};

// Runs the workload in `folder` with the `failAt`th call failing (0: none)
// and returns what the parent checks: "R mustBeThere line" for each record
// (its kind is its number modulo 3), "C keyline", "K calls" and "M call".
// Records of the worker's time need not be there: failures on that path are
// dropped by design.
std::string Workload(const fs::path& folder, long failAt, int error) {
  gFailAt = failAt;
  gError = error;
  SetFileCalls(&kFaulty);
  std::ostringstream report;
  const WString dir = ToUtf16(folder.string());
  CalendarToFileTime({2026, 12, 5, 23, 59, 0, 0, 0}, &gNow);
  SetClockSource(&kClock);
  {
    // As the library does, a log system that failed to start is dropped and
    // the next call starts another.
    auto made = std::make_unique<LogSystem>();
    if (Failed(made->Start(dir, dir))) made = std::make_unique<LogSystem>();
    LogSystem& system = *made;
    system.Start(dir, dir);
    LoadSourceFile(system, u"faults.cfg", dir, dir);
    ZunLogger* loggers[3] = {};
    const char16_t* names[3] = {u"app", u"daily", u"secret"};
    for (int k = 0; k < 3; ++k) system.GetLogger(k == kSecret ? 57 : 58, names[k], &loggers[k]);
    int id = 0;
    auto log = [&](int count, bool checked) {
      for (int i = 0; i < count; ++i, ++id) {
        const Kind kind = static_cast<Kind>(id % 3);
        const WString text = ToUtf16("record " + std::to_string(id) + " " + std::string(40 + id % 17, 'x'));
        const ProtectionMode mode = kind == kSecret ? ZUN_PROTECT_SESSION : 0;
        ZunLogger* logger = loggers[kind];
        const bool logged =
            logger != nullptr && Succeeded(logger->vtbl->LogFull(logger, ZUN_SEVERITY_WARN, text.c_str(),
                                                                 u"f.c", 1, 2, 3, 4, mode, nullptr));
        WString line = text;
        ProtectionMode after = 0;
        SetFileCalls(nullptr);  // the expected form is not part of the workload
        if (mode != 0) MakeProtectedText(mode, text, line, &after);
        SetFileCalls(&kFaulty);
        report << "R " << (checked && logged) << ' ' << ToUtf8(line) << '\n';
      }
    };
    log(30, true);
    gNow += 2 * 60 * 10000000ull;  // over midnight
    log(30, true);
    ReloadConfiguration(system);
    log(12, true);
    system.StartAsyncWorker();
    log(24, false);
    system.StopAsyncWorker();
    log(12, true);
    report << "C " << ToUtf8(system.KeyRecordLine()) << '\n';
  }
  SetFileCalls(nullptr);
  SetClockSource(nullptr);
  report << "K " << gCalls.load() << '\n';
  if (gMet != nullptr) report << "M " << gMet << '\n';
  return report.str();
}

// The workload's report from a child, with "[status N]" or "[hang]" at its
// end unless the child ended well within 30 seconds.
std::string RunWorkload(const fs::path& folder, long failAt, int error) {
  return RunInChild(
      CurrentEnvironment(), [&] { return Workload(folder, failAt, error); }, 30000);
}

// The word after the last "\n<tag> " of a report, or "" when there is none.
std::string Field(const std::string& report, const char* tag) {
  const std::size_t at = report.rfind("\n" + std::string(tag) + " ");
  return at == std::string::npos ? "" : report.substr(at + 3, report.find_first_of(" \n", at + 3) - at - 3);
}

// Problems of one finished run, one per line; empty when all is well.
std::string CheckFolder(const fs::path& folder, const std::string& report) {
  std::map<std::string, int> idOfLine;
  std::vector<bool> mustBeThere;
  std::string keyLine, problems;
  std::istringstream in(report);
  for (std::string tag, line; in >> tag && std::getline(in, line);) {
    if (tag == "R") idOfLine[line.substr(3)] = static_cast<int>(mustBeThere.size());
    if (tag == "R") mustBeThere.push_back(line[1] == '1');
    if (tag == "C") keyLine = line.substr(1);
  }
  if (mustBeThere.empty()) return "no report\n";
  std::map<std::pair<std::string, int>, int> counts;  // (family, record) -> times found
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
    bool keyed = false;
    for (std::size_t at = 3, end; at < bytes.size(); at = end + 2) {
      end = std::min(bytes.find("\r\n", at), bytes.size());
      const std::string line = bytes.substr(at, end - at);
      if (line.find_first_not_of(' ') == std::string::npos) continue;  // a blanked piece
      if (!keyLine.empty() && line == keyLine) {
        keyed = true;
        continue;
      }
      // The default configuration's standard lines, while the file failed to
      // load: the message ends the line.
      const std::size_t message = line.find(" MSG:");
      const auto found =
          idOfLine.find(family == "common" && message != std::string::npos ? line.substr(message + 5) : line);
      if (found == idOfLine.end()) {
        problems += name + ": foreign or broken line \"" + line.substr(0, 60) + "\"\n";
        continue;
      }
      const int kind = found->second % 3;
      if (family != "common" && !kFamilies[kind].contains(family))
        problems += name + ": record " + std::to_string(found->second) + " in the wrong file\n";
      // A file that a plain logger opened has no key record line.
      if (kind == kSecret && !keyed && family != "common")
        problems += name + ": protected line before the key record\n";
      ++counts[{family, found->second}];
    }
  }
  // Once in each file of its family, or once in the default configuration's
  // file when the configuration failed to load.
  for (int id = 0; id < static_cast<int>(mustBeThere.size()); ++id) {
    for (const std::string& family : kFamilies[id % 3]) {
      const int n = counts[{family, id}] + counts[{"common", id}];
      if (n > 1 || (n == 0 && mustBeThere[id]))
        problems +=
            "record " + std::to_string(id) + " in " + family + " or common: " + std::to_string(n) + "\n";
    }
  }
  return problems;
}

// `folder`, emptied, holding the configuration file.
fs::path Fresh(const fs::path& folder) {
  fs::remove_all(folder);
  fs::create_directory(folder);
  WriteFileBytes(folder / "faults.cfg", ToUtf8(kConfiguration));
  return folder;
}

class FaultInjection : public TempDirTest {};

TEST_F(FaultInjection, EveryFailedCallLosesNoRecordReportedWritten) {
  const std::string clean = RunWorkload(Fresh(Dir() / "clean"), 0, EIO);
  ASSERT_TRUE(clean.ends_with('\n')) << clean.substr(clean.rfind('\n') + 1);
  ASSERT_EQ("", CheckFolder(Dir() / "clean", clean));
  const long calls = std::atol(Field(clean, "K").c_str());
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
  std::string failures;
  for (const auto& [name, error] : kFaults) {
    for (long n = only != 0 ? only : 1 + (stride > 1 ? error % stride : 0); n <= calls; n += stride) {
      const fs::path folder = Fresh(Dir() / "run");
      const std::string report = RunWorkload(folder, n, error);
      ++runs;
      const std::string where = std::string(name) + " at call " + std::to_string(n);
      const std::string call = Field(report, "M");
      if (!report.ends_with('\n')) {
        failures += where + ": " + report.substr(report.rfind('\n') + 1) + "\n";
      } else if (!call.empty()) {  // else fewer calls this time
        const std::string problems = CheckFolder(folder, report);
        if (!problems.empty()) failures += where + " (" + call + "):\n" + problems;
      }
    }
  }
  std::printf("fault injection: %ld calls per workload, stride %ld, %ld runs\n", calls, stride, runs);
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
  const auto log = [logger](const char16_t* text) {  // the calls that failed
    int failed = 0;
    for (int i = 0; i < 20; ++i)
      failed +=
          Failed(logger->vtbl->LogFull(logger, ZUN_SEVERITY_WARN, text, u"f.c", 1, 2, 3, 4, 0, nullptr));
    return failed;
  };
  ASSERT_EQ(0, log(u"parent line"));
  const auto child = [&] {
    const int failed = log(u"child line");
    system.Flush();
    system.~LogSystem();
    return std::to_string(failed);
  };
  EXPECT_EQ("0", RunInChild({}, child, 30000));
  EXPECT_EQ(0, log(u"parent line"));
}

}  // namespace
}  // namespace zun::test
