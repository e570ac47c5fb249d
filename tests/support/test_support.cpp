#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace zun::test {

namespace {

// A new folder under $TMPDIR (or /tmp) named from `prefix`.
std::string MakeFolder(const char* prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  return mkdtemp(pattern.data()) == nullptr ? "" : pattern;
}

// No test may write into the real home: before any test starts a log
// system, its per-user and shared folders move into a temporary folder of
// this run, which the hosts that tests start inherit too.
// Kept on the heap: static objects are gone by the time exit handlers run.
const std::string* const kFolders = [] {
  auto* pattern = new std::string(MakeFolder("zunlogx-home"));
  if (pattern->empty()) std::abort();
  setenv("XDG_STATE_HOME", (*pattern + "/state").c_str(), 1);
  setenv("ALLUSERSPROFILE", (*pattern + "/common").c_str(), 1);
  static const pid_t owner = getpid();
  std::atexit([] {
    std::error_code ignored;
    if (getpid() == owner) std::filesystem::remove_all(*kFolders, ignored);
  });
  return pattern;
}();
}  // namespace

void TempDirTest::SetUp() {
  dir_ = MakeFolder("zunlogx-test");
  ASSERT_FALSE(dir_.empty());
}

void TempDirTest::TearDown() {
  std::error_code ignored;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string DescribeCode(ResultCode rc) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", rc);
  const char* name = ResultCodeName(rc);
  return name ? std::string(name) + " (" + hex + ")" : std::string(hex);
}

std::string Outcome(ResultCode rc, WStringView text) {
  return (Failed(rc) ? DescribeCode(rc) : ToUtf8(text)) + "\n";
}

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
  return entries;
}

std::string RunInChild(const std::vector<std::string>& environment, const std::function<std::string()>& body,
                       int timeoutMs) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return "[pipe failed]";
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    clearenv();
    for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
    std::fputs(body().c_str(), stdout);
    std::exit(0);  // not _exit: stdout is flushed, and the sanitizers report through the status
  }
  close(fds[1]);
  std::string output;
  char chunk[4096];
  pollfd ready{fds[0], POLLIN, 0};
  bool hung = false;
  for (ssize_t n; pid > 0 && !(hung = poll(&ready, 1, timeoutMs) == 0) &&
                  ((n = read(fds[0], chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR));) {
    if (n > 0) output.append(chunk, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  if (hung) kill(pid, SIGKILL);
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  if (status != 0) output += hung ? "[hang]" : "[status " + std::to_string(status) + "]";
  return output;
}

}  // namespace zun::test
