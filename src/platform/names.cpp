#include "platform/names.h"

#include <sys/utsname.h>

#include <atomic>
#include <mutex>

#include "platform/special_folders.h"

namespace zun {

ResultCode GetHostName(WString* out) {
  if (ReadEnvironmentVariable("_CLUSTER_NETWORK_NAME_", out) || ReadEnvironmentVariable("COMPUTERNAME", out))
    return 0;
  utsname info;
  if (uname(&info) == 0 && info.nodename[0] != 0) {
    *out = ToUtf16(info.nodename);
    return 0;
  }
  *out = u"localhost";
  return 0;
}

const WString& GetCachedHostName() {
  static WString name;
  static std::atomic<bool> done{false};
  static std::mutex computing;
  if (done.load(std::memory_order_acquire)) return name;
  std::lock_guard<std::mutex> lock(computing);
  if (!done.load(std::memory_order_relaxed)) {
    WString computed;
    if (Succeeded(GetHostName(&computed))) {
      name = std::move(computed);
      done.store(true, std::memory_order_release);
    }
  }
  return name;
}

ResultCode GetAccountName(WString* out) {
  AccountEntry entry;
  if (Succeeded(LookUpAccount({}, &entry)) && !entry.name.empty()) {
    out->swap(entry.name);
    return RC_OK;
  }
  if (ReadEnvironmentVariable("USERNAME", out) || ReadEnvironmentVariable("USER", out)) return RC_OK;
  return RC_NOT_AVAILABLE;
}

}  // namespace zun
