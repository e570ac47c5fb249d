#include "platform/process_info.h"

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

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

ResultCode ReadLink(const char* path, std::string* out) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = readlink(path, target.data(), target.size());
    if (n < 0) return ResultFromErrno(errno);
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      *out = std::move(target);
      return RC_OK;
    }
    target.resize(target.size() * 2);  // the link may have been cut short
  }
}

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

ResultCode GetProcessImagePath(WString* out) {
  try {
    std::string path;
    const ResultCode rc = ReadLink("/proc/self/exe", &path);
    if (Failed(rc)) return rc;
    *out = ToUtf16(path);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode GetLibraryModulePath(WString* out) {
  Dl_info info{};
  link_map* module = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&GetLibraryModulePath), &info, reinterpret_cast<void**>(&module),
              RTLD_DL_LINKMAP) == 0 ||
      module == nullptr || module->l_name == nullptr) {
    return RC_NOT_AVAILABLE;
  }
  // The loader keeps no name for the executable itself.
  if (module->l_name[0] == '\0') return GetProcessImagePath(out);
  try {
    if (module->l_name[0] == '/') {
      *out = ToUtf16(module->l_name);
      return RC_OK;
    }
    // A relative name as the host passed it to dlopen.
    const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(module->l_name, nullptr), &std::free);
    if (!resolved) return ResultFromErrno(errno);
    *out = ToUtf16(resolved.get());
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
