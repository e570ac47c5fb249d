#include "platform/names.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "base/lasting.h"

namespace zun {

namespace {

bool FromEnvironment(const char* name, WString* out) {
  const char* value = std::getenv(name);
  if (value == nullptr) return false;
  *out = ToUtf16(value);
  return true;
}

}  // namespace

ResultCode GetHostName(WString* out) {
  if (FromEnvironment("_CLUSTER_NETWORK_NAME_", out) || FromEnvironment("COMPUTERNAME", out)) return 0;
  utsname info;
  if (uname(&info) == 0 && info.nodename[0] != 0) {
    *out = ToUtf16(info.nodename);
    return 0;
  }
  *out = u"localhost";
  return 0;
}

const WString& GetCachedHostName() {
  static Lasting<WString> name;
  static std::atomic<bool> done{false};
  static std::mutex computing;
  if (done.load(std::memory_order_acquire)) return *name;
  std::lock_guard<std::mutex> lock(computing);
  if (!done.load(std::memory_order_relaxed)) {
    WString computed;
    if (Succeeded(GetHostName(&computed))) {
      *name = std::move(computed);
      done.store(true, std::memory_order_release);
    }
  }
  return *name;
}

ResultCode GetAccountName(WString* out) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry;
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_name != nullptr && found->pw_name[0] != 0) {
    *out = ToUtf16(found->pw_name);
    return 0;
  }
  if (FromEnvironment("USERNAME", out) || FromEnvironment("USER", out)) return 0;
  return RC_NOT_AVAILABLE;
}

}  // namespace zun
