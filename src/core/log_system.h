#pragma once
// The process-wide log system that every log client shares. Created on the
// first request, kept until the library is unloaded.
//
// It holds the logger tree, the synchronous dispatcher that serves it, the
// session key with its key record line, and the set of configuration files
// it has loaded. Configuration loading and the asynchronous worker join it
// as they are built.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"
#include "core/dispatcher.h"
#include "core/logger_tree.h"

namespace zun {

class LogSystem {
 public:
  LogSystem();
  LogSystem(const LogSystem&) = delete;
  LogSystem& operator=(const LogSystem&) = delete;

  // Makes the session key and the key record line; run once, before the
  // log system is handed out.
  ResultCode Start();

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

  struct LoadedFile {
    WString path;
    WString logFolder;
  };
  // A copy of the files loaded so far, taken under the lock.
  ResultCode CopyLoadedFiles(std::vector<LoadedFile>* out);

 private:
  std::recursive_mutex lock_;
  Dispatcher dispatcher_;
  LoggerTree tree_;  // after the dispatcher it writes through
  std::vector<std::uint8_t> sessionKey_;
  std::shared_ptr<const WString> keyRecordLine_;
  std::vector<LoadedFile> loadedFiles_;
};

// The process's log system, created and started on first use. Every
// successful call is matched by ReleaseLogSystem.
ResultCode AcquireLogSystem(LogSystem** out);
void ReleaseLogSystem(LogSystem* system);
// Destroys the log system at unload, whatever holds it.
void ShutDownLogSystem();

}  // namespace zun
