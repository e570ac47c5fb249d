// A host whose log calls land in a real file, ended the way a host ends:
// main returns and exit() runs the library's unload code. Built with the
// library's load and unload code linked in, as the shared object has it.
//
//   exit_files_host <folder> threads-sync | threads-async | unstopped
//
// "threads-...": four threads log "t<t> n<n>" (n below 20000) through
// "exit.host", without or with the worker; main returns once each made 200
// calls. "unstopped": the worker runs, main logs "t0 n<n>" for n below 2000
// and returns without stopping it. After each call that returned success
// the caller stores n + 1 in slot t of <folder>/progress (four 32-bit
// counts, mapped shared). Every line goes to <folder>/exit.log. Exit status
// 0 when the set-up worked.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "base/text.h"
#include "zunlogx/zunlogx.h"

namespace {

using namespace zun;

constexpr unsigned kThreads = 4;
constexpr unsigned kCallsBeforeExit = 200;
// Enough that exit finds the threads logging, few enough to write quickly.
constexpr unsigned kCallsAtMost = 20000;

ZunLogger* gLogger = nullptr;

void LogNumbered(std::atomic<std::uint32_t>* progress, unsigned t, unsigned count) {
  for (std::uint32_t n = 0; n < count; ++n) {
    if (Succeeded(ZunLogFormat(gLogger, ZUN_SEVERITY_WARN, u"exit_files_host.cpp", 1, 0, u"t%u n%u", t, n)))
      progress[t].store(n + 1, std::memory_order_release);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: exit_files_host <folder> threads-sync|threads-async|unstopped\n");
    return 2;
  }
  const std::string folder = argv[1];
  const std::string scenario = argv[2];
  const std::u16string config = u"[exit]\nType = Appender\nAppenderType = File\nFileName = " +
                                ToUtf16(folder) +
                                u"/exit.log\n[exit.host]\nAdditive = no\nAddAppenders = exit\n";
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_1;
  ILog* log = nullptr;
  const int fd = open((folder + "/progress").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0 || ftruncate(fd, kThreads * sizeof(std::uint32_t)) != 0 || Failed(ZunGetLogObject(&id, &log)) ||
      Failed(log->vtbl->ApplyConfigurationText(log, config.c_str())) ||
      Failed(log->vtbl->GetLogger(log, &gLogger, u"exit.host"))) {
    return 3;
  }
  void* map = mmap(nullptr, kThreads * sizeof(std::uint32_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED || (scenario != "threads-sync" && Failed(log->vtbl->StartAsyncWorker(log)))) return 4;
  auto* progress = static_cast<std::atomic<std::uint32_t>*>(map);
  if (scenario == "unstopped") {
    LogNumbered(progress, 0, 2000);
    return 0;
  }
  for (unsigned t = 0; t < kThreads; ++t) {
    std::thread([progress, t] {
      LogNumbered(progress, t, kCallsAtMost);
      pause();
    }).detach();
  }
  for (unsigned t = 0; t < kThreads; ++t) {
    while (progress[t].load(std::memory_order_acquire) < kCallsBeforeExit) std::this_thread::yield();
  }
  return 0;
}
