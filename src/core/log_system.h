#pragma once
// The process-wide log system that every log client shares. Created on the
// first request, kept until the library is unloaded.
//
// It holds the logger tree with the root and the "ASYNCHANDLER" logger, the
// dispatcher that serves it, the asynchronous handler with its queue and
// worker, the session key with its key record line, its two folders, the
// applied configuration (layouts and appenders by name) and the set of
// configuration files it has loaded.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"
#include "core/async_handler.h"
#include "core/config_loading.h"
#include "core/config_model.h"
#include "core/dispatcher.h"
#include "core/logger_tree.h"

namespace zun {

class LogSystem {
 public:
  LogSystem();
  // Stops the worker, writing what is queued, flushes the tree and waits for
  // the compressions started.
  ~LogSystem();
  LogSystem(const LogSystem&) = delete;
  LogSystem& operator=(const LogSystem&) = delete;

  // Keeps the two folders, makes the session key and the key record line,
  // the "ASYNCHANDLER" logger (client mask 1) and the asynchronous handler,
  // stopped, then applies the default configuration, whose result is the start's.
  // Run once, before the log system is handed out.
  ResultCode Start(WStringView configFolder, WStringView logFolder);

  // Back to the default configuration: the queue written, every appender flushed, the logger
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
  // Writes what is queued, then flushes every appender of the tree. Takes
  // the lock.
  ResultCode Flush();

  // The worker of the asynchronous handler. Neither takes the log system
  // lock: the worker's change callback takes it, and stopping waits for the
  // worker.
  ResultCode StartAsyncWorker() { return handler_.StartWorker(); }
  void StopAsyncWorker() { handler_.StopWorker(); }

  // Process exit: the worker stops for good after writing what is queued,
  // every appender of the tree is retired (Appender::Retire) and started
  // compressions end. Nothing is freed: host threads still logging find
  // everything in place, and their records fail with RC_NOT_AVAILABLE.
  void StopAtExit();

  // The handler's change callback: re-applies the loaded configuration files
  // whose last-write time changed.
  void ReloadChangedConfiguration();

  LoggerTree& Tree() { return tree_; }
  AsyncHandler& Handler() { return handler_; }
  Dispatcher& RecordDispatcher() { return dispatcher_; }
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
  void SetMaxQueueSize(std::uint32_t bytes) { handler_.SetMaxQueueSize(bytes); }
  std::uint32_t MaxQueueSize() const { return handler_.MaxQueueSize(); }

 private:
  std::recursive_mutex lock_;
  AsyncHandler handler_;
  Dispatcher dispatcher_{&handler_};
  AppliedConfiguration applied_;   // before the tree, whose loggers point at its appenders
  LoggerTree tree_{&dispatcher_};  // after the dispatcher it writes through
  std::vector<std::uint8_t> sessionKey_;
  std::shared_ptr<const WString> keyRecordLine_;
  WString configFolder_;
  WString logFolder_;
  ConfigSources sources_;
  bool privateConfigurationTried_ = false;
};

// The process's log system, created and started on first use. Every
// successful call is matched by ReleaseLogSystem.
ResultCode AcquireLogSystem(LogSystem** out);
void ReleaseLogSystem(LogSystem* system);
// Destroys the log system at unload, whatever holds it.
void ShutDownLogSystem();
// LogSystem::StopAtExit on the process's log system, if there is one.
void StopLogSystemAtExit();

}  // namespace zun
