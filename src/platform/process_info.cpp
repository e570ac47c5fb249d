#include "platform/process_info.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

namespace zun {

namespace {

std::atomic<std::uint32_t> gProcessId{0};
thread_local std::uint32_t tThreadId = 0;

void RenewAfterFork() {
  gProcessId.store(static_cast<std::uint32_t>(getpid()), std::memory_order_relaxed);
  // The forking thread lives on in the child under a new id.
  tThreadId = static_cast<std::uint32_t>(syscall(SYS_gettid));
}

struct ForkHook {
  ForkHook() {
    gProcessId.store(static_cast<std::uint32_t>(getpid()), std::memory_order_relaxed);
    pthread_atfork(nullptr, nullptr, RenewAfterFork);
  }
};
const ForkHook gForkHook;

}  // namespace

std::uint32_t CurrentProcessId() {
  std::uint32_t pid = gProcessId.load(std::memory_order_relaxed);
  if (pid == 0) {  // before static initialisation of this file
    pid = static_cast<std::uint32_t>(getpid());
    gProcessId.store(pid, std::memory_order_relaxed);
  }
  return pid;
}

std::uint32_t CurrentThreadId() {
  if (tThreadId == 0) tThreadId = static_cast<std::uint32_t>(syscall(SYS_gettid));
  return tThreadId;
}

}  // namespace zun
