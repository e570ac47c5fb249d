#pragma once
// The process-wide log system that every log client shares. Created on the
// first request, kept until the library is unloaded.
//
// It holds the logger tree, the synchronous dispatcher that serves it, the
// session key with its key record line, its two folders, the applied
// configuration (layouts and appenders by name) and the set of configuration
// files it has loaded.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"
#include "core/config_loading.h"
#include "core/config_model.h"
#include "core/dispatcher.h"
#include "core/logger_tree.h"

namespace zun {

class LogSystem {
 public:
  LogSystem();
  LogSystem(const LogSystem&) = delete;
  LogSystem& operator=(const LogSystem&) = delete;

  // Keeps the two folders, makes the session key and the key record line,
  // then applies the default configuration, whose result is the start's.
  // Run once, before the log system is handed out.
  ResultCode Start(WStringView configFolder, WStringView logFolder);

  // Back to the default configuration: every appender flushed, the logger
  // tree reset (loggers stay, hosts keep their pointers), the layouts and
  // appenders dropped, the default applied again; its result is returned.
  // The loaded-file set and the private-configuration flag stay.
  ResultCode Reset();

  // The log system lock: tree changes, configuration, the loaded-file set.
  std::recursive_mutex& Lock() { return lock_; }

  // The logger of a dotted name (null, "" or "root": the root), created when
  // missing; the client mask is ORed into its flags. Takes the lock.
  ResultCode GetLogger(std::uint16_t clientMask, WStringView name, ZunLogger** out);
  // As GetLogger for an existing logger only; *out is left alone when the
  // name does not resolve, and that is no failure.
  ResultCode FindLogger(std::uint16_t clientMask, WStringView name, ZunLogger** out);
  // Flushes every appender of the tree. Takes the lock.
  ResultCode Flush();

  LoggerTree& Tree() { return tree_; }
  const WString& KeyRecordLine() const { return *keyRecordLine_; }

  // Fixed by Start: where "privlog.cfg" is looked for, and the log folder of
  // the default configuration.
  const WString& ConfigFolder() const { return configFolder_; }
  const WString& LogFolder() const { return logFolder_; }

  // Guarded by Lock().
  AppliedConfiguration& Applied() { return applied_; }
  ConfigSources& Sources() { return sources_; }
  bool& PrivateConfigurationTried() { return privateConfigurationTried_; }

  // The bound of the asynchronous record queue in bytes, set by the root
  // section's "MaxQueueSize"; 0 means no bound.
  void SetMaxQueueSize(std::uint32_t bytes) { maxQueueSize_.store(bytes, std::memory_order_relaxed); }
  std::uint32_t MaxQueueSize() const { return maxQueueSize_.load(std::memory_order_relaxed); }

 private:
  std::recursive_mutex lock_;
  Dispatcher dispatcher_;
  AppliedConfiguration applied_;  // before the tree, whose loggers point at its appenders
  LoggerTree tree_;               // after the dispatcher it writes through
  std::vector<std::uint8_t> sessionKey_;
  std::shared_ptr<const WString> keyRecordLine_;
  WString configFolder_;
  WString logFolder_;
  ConfigSources sources_;
  bool privateConfigurationTried_ = false;
  std::atomic<std::uint32_t> maxQueueSize_{kDefaultMaxQueueSize};
};

// The process's log system, created and started on first use. Every
// successful call is matched by ReleaseLogSystem.
ResultCode AcquireLogSystem(LogSystem** out);
void ReleaseLogSystem(LogSystem* system);
// Destroys the log system at unload, whatever holds it.
void ShutDownLogSystem();

}  // namespace zun
