#pragma once
// What an appender knows of the log system that created it: every appender
// receives one AppenderOwner at creation and keeps it without owning it; the
// owner outlives its appenders.
#include "base/result_code.h"
#include "base/text.h"

namespace zun {

class Logger;
struct LogRecord;

// Operations in a fixed order; new ones are only ever appended. Every
// operation may be called from any thread and returns its outcome as a code.
class AppenderOwner {
 public:
  // Passes a record on to the logger's appenders (at once or through the
  // asynchronous queue). The owner may take the record's texts: the caller
  // must not use it afterwards except to fill it anew. Appenders never call
  // it.
  virtual ResultCode Dispatch(Logger* logger, LogRecord&& record) noexcept = 0;

  // A file appender has rolled `path` into a backup or a dated name: the
  // owner starts compressing the older logs of that file's family. Called
  // while the appender's lock is held; appenders ignore the result.
  virtual ResultCode ReportRolledFile(WStringView path) noexcept = 0;

  // Puts the folder of a loaded configuration file under the change watch.
  // Appenders never call it.
  virtual ResultCode WatchFolder(WStringView folder) noexcept = 0;

  // A file appender is about to open `path` (a full path). The owner records
  // each distinct path once. Called while the appender's lock is held;
  // appenders ignore the result (0, or RC_OUT_OF_MEMORY).
  virtual ResultCode ReportOpenedFile(WStringView path) noexcept = 0;

  // A log call of `logger` ended before its record was built, since no
  // appender would have taken it: the owner does the periodic work a
  // dispatched record would have given it the chance to do.
  virtual void Skip(Logger* /*logger*/) noexcept {}

 protected:
  ~AppenderOwner() = default;
};

}  // namespace zun
