#pragma once
// The process-wide log system that every log client shares. Created on the
// first request, kept until the library is unloaded.
//
// For now it holds only its lock and the set of configuration files it has
// loaded; the logger tree, the dispatcher and the configuration join it as
// they are built.
#include <cstdint>
#include <mutex>
#include <vector>

#include "boundary/result_code.h"
#include "platform/text.h"

namespace zun {

class LogSystem {
 public:
  // The log system lock: tree changes, configuration, the loaded-file set.
  std::recursive_mutex& Lock() { return lock_; }

  struct LoadedFile {
    WString path;
    WString logFolder;
  };
  // A copy of the files loaded so far, taken under the lock.
  ResultCode CopyLoadedFiles(std::vector<LoadedFile>* out);

 private:
  std::recursive_mutex lock_;
  std::vector<LoadedFile> loadedFiles_;
};

// The process's log system, created on first use. Every successful call is
// matched by ReleaseLogSystem.
ResultCode AcquireLogSystem(LogSystem** out);
void ReleaseLogSystem(LogSystem* system);
// Destroys the log system at unload, whatever holds it.
void ShutDownLogSystem();

}  // namespace zun
