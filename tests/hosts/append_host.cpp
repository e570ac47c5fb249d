// Appends numbered lines to one log file through its own appender, from
// several threads, so a test can run a few of these processes against one
// file at once.
//
//   append_host <file> <first writer id> <lines per thread> <threads> <start fd> [plain|slow] [Key=Value ...]
//
// Thread t writes the lines of writer <first writer id> + t. The appender
// section holds "AppenderType = File" and "FileName = <file>", changed or
// extended by the Key=Value arguments ("AppenderType=RollingFile",
// "Size=65536"). Writing starts when <start fd> reaches its end (the test
// closes the other end once every process is running). With "plain" the
// lines go out as another program would append them: UTF-8 with CR LF, one
// write each to a descriptor opened with O_APPEND as soon as the file
// exists, no byte-order mark. With "slow" the appender sees a slow file
// system: every read and every look at a file's facts takes a fifth of a
// millisecond more. Exit status 0 when every append succeeded.
//
// Environment, for tests of rolled logs:
//   ZUNLOGX_TEST_CLOCK  the library's clock (test_clock.h)
//   ZUNLOGX_TEST_ROLL_LOG=<path>  each rename of <file> that this process
//       makes appends "<inode> <size just after the rename>" to <path>
//   ZUNLOGX_TEST_DIE_AT_ROLL=<k>  the process kills itself (SIGKILL) right
//       after its k-th rename of <file>, in the middle of that roll, if it
//       can create the file ZUNLOGX_TEST_DIE_TOKEN names (when that is set),
//       so that of several hosts only the first to get there dies
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "append_lines.h"
#include "appenders/appender_factory.h"
#include "appenders/custom_layout.h"
#include "appenders/standalone_owner.h"
#include "config/config_document.h"
#include "config/config_reader.h"
#include "platform/file_calls.h"
#include "records/log_record.h"
#include "test_clock.h"

namespace {

using namespace zun;

std::string gLogPath;
FileCalls gWatchedCalls;
int (*gRealRename)(const char* from, const char* to) = nullptr;
int gRollLog = -1;
long gDieAtRoll = 0;
const char* gDieToken = nullptr;
long gRenames = 0;

int WatchedRename(const char* from, const char* to) {
  const int rc = gRealRename(from, to);
  struct stat after {};
  if (rc != 0 || gLogPath != from || stat(to, &after) != 0) return rc;
  if (gRollLog >= 0) {
    char line[64];
    const int n =
        std::snprintf(line, sizeof line, "%llu %lld\n", static_cast<unsigned long long>(after.st_ino),
                      static_cast<long long>(after.st_size));
    if (write(gRollLog, line, static_cast<std::size_t>(n)) != n) std::abort();
  }
  if (++gRenames == gDieAtRoll &&
      (gDieToken == nullptr || open(gDieToken, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644) >= 0)) {
    raise(SIGKILL);
  }
  return rc;
}

// Appends the lines of the writers as another program would; 0 on success.
int AppendPlainly(const char* path, unsigned firstWriter, unsigned lines, unsigned threadCount) {
  int fd = -1;
  // Gives up when the file does not appear within some million looks.
  for (int look = 0; look < (1 << 22) && (fd = open(path, O_WRONLY | O_APPEND | O_CLOEXEC)) < 0; ++look) {
    if (errno != ENOENT) return 1;
  }
  if (fd < 0) return 1;
  for (unsigned t = 0; t < threadCount; ++t) {
    for (unsigned i = 0; i < lines; ++i) {
      const std::string line = ToUtf8(test::AppendLineText(firstWriter + t, i)) + "\r\n";
      if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 1;
    }
  }
  return close(fd) == 0 ? 0 : 1;
}

// A call of a slow file system.
template <auto call, typename... Args>
auto Slowly(Args... args) {
  usleep(200);
  return call(args...);
}

void TakeEnvironment() {
  test::TakeTestClock();
  if (const char* log = std::getenv("ZUNLOGX_TEST_ROLL_LOG")) {
    gRollLog = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  if (const char* die = std::getenv("ZUNLOGX_TEST_DIE_AT_ROLL")) gDieAtRoll = std::atol(die);
  gDieToken = std::getenv("ZUNLOGX_TEST_DIE_TOKEN");
  if (gRollLog >= 0 || gDieAtRoll > 0) {
    gWatchedCalls = Files();
    gRealRename = gWatchedCalls.renameNoReplace;
    gWatchedCalls.renameNoReplace = WatchedRename;
    SetFileCalls(&gWatchedCalls);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr,
                 "usage: append_host <file> <first writer> <lines> <threads> <start fd> "
                 "[plain|slow] [Key=Value ...]\n");
    return 2;
  }
  gLogPath = argv[1];
  const unsigned firstWriter = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
  const unsigned lines = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
  const unsigned threadCount = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
  const int startFd = std::atoi(argv[5]);
  int next = 6;
  const std::string mode = argc > next && std::strchr(argv[next], '=') == nullptr ? argv[next++] : "";
  std::map<WString, WString> keys = {{u"AppenderType", u"File"}, {u"FileName", ToUtf16(argv[1])}};
  for (; next < argc; ++next) {
    const char* equals = std::strchr(argv[next], '=');
    if (equals == nullptr) return 2;
    keys[ToUtf16(std::string_view(argv[next], equals))] = ToUtf16(equals + 1);
  }
  const auto waitForStart = [startFd] {
    char byte = 0;
    while (read(startFd, &byte, 1) > 0) {
    }
  };
  FileCalls slow = RealFileCalls();
  slow.pread = Slowly<pread, int, void*, size_t, off_t>;
  slow.fstat = Slowly<fstat, int, struct stat*>;
  slow.stat = Slowly<stat, const char*, struct stat*>;
  if (mode == "slow") {
    SetFileCalls(&slow);
  } else if (mode == "plain") {
    waitForStart();
    return AppendPlainly(argv[1], firstWriter, lines, threadCount);
  } else if (!mode.empty()) {
    return 2;
  }
  TakeEnvironment();

  WString text = u"[L]\nLayoutType = Custom\nFormat = %msg\n[A]\n";
  for (const auto& [name, value] : keys) text += name + u" = " + value + u"\n";
  ConfigDocument document;
  MemoryLineSource source(text);
  CustomLayout layout(u"L");
  StandaloneAppenderOwner owner;
  AppenderRef appender;
  ResultCode rc = ParseDocument(document, source);
  if (Succeeded(rc)) rc = layout.LoadConfig(*document.Sections().at(u"L"));
  if (Succeeded(rc)) rc = CreateAppender(keys[u"AppenderType"], &owner, u"A", u"", &appender);
  if (Succeeded(rc)) rc = appender->LoadConfig(*document.Sections().at(u"A"));
  if (Failed(rc)) {
    std::fprintf(stderr, "append_host: configuration failed: 0x%08X\n", rc);
    return 3;
  }
  appender->AttachLayout(&layout);

  waitForStart();
  std::vector<std::thread> threads;
  std::atomic<ResultCode> failure{RC_OK};
  for (unsigned t = 0; t < threadCount; ++t) {
    threads.emplace_back([&, t] {
      LogRecord record;
      record.severity = 200000;
      for (unsigned i = 0; i < lines; ++i) {
        record.message = test::AppendLineText(firstWriter + t, i);
        const ResultCode result = appender->Append(record);
        if (Failed(result)) failure.store(result);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  appender->Flush();
  if (failure.load() == RC_OK) return 0;
  std::fprintf(stderr, "append_host: append failed: 0x%08X\n", failure.load());
  return 1;
}
