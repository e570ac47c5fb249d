#pragma once
// A log client: one object's view of the process's log system, with its own
// configuration folder and log folder. Each object has two (masks 57, 58),
// created on first use and never shared between objects.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "base/result_code.h"
#include "base/text.h"
#include "core/log_system.h"

namespace zun {

inline constexpr std::uint16_t kPrimaryClientMask = 57;
inline constexpr std::uint16_t kSecondaryClientMask = 58;

struct LogClient {
  ~LogClient();

  // The client lock: held for the whole of each configuration change.
  std::recursive_mutex lock;
  LogSystem* system = nullptr;  // one hold on the process's log system
  WString configFolder;
  WString logFolder;
};

// Creates the client in `slot` unless one is installed. Two threads racing on
// a fresh slot both end up with the client installed first.
ResultCode EnsureLogClient(std::atomic<LogClient*>& slot, LogClient** out);

}  // namespace zun
