#pragma once
// What every file appender shares: the file name, resolved against the log
// folder it was created with, and the immediate-write setting.
#include "appenders/appender.h"

namespace zun {

// Configuration keys, read by LoadConfig and written by SaveConfig in this
// order, before the base part ("BreakSeverity", "Type"):
//   "FileName"        required; its ${name} variables are replaced
//                     (RC_INVALID_DATA for an unknown name), then a relative
//                     name is joined to the log folder
//   "ImmediateWrite"  exactly "true", "yes" or "1" flushes every line to the
//                     device; any other value, or none, leaves it to the cache
class FileAppenderBase : public Appender {
 public:
  // The stored (resolved) file name; empty until configured.
  WString FileName() const;
  bool ImmediateWrite() const noexcept;
  const WString& LogDirectory() const noexcept { return logDirectory_; }

  // The path a file is opened under: the stored name joined to the log
  // folder once more (an absolute name stays as it is).
  ResultCode FullPath(WString* out) const noexcept;

  ResultCode LoadConfig(const ConfigSection& section) noexcept override;
  ResultCode SaveConfig(ConfigSection& section) noexcept override;

 protected:
  FileAppenderBase(AppenderOwner* owner, WString name, WString logDirectory) noexcept
      : Appender(owner, std::move(name)), logDirectory_(std::move(logDirectory)) {}

  // ImmediateWrite for a caller that holds the lock (the write path).
  bool ImmediateWriteHeld() const noexcept { return immediateWrite_; }

 private:
  const WString logDirectory_;
  // Guarded by the appender's lock.
  WString fileName_;
  bool immediateWrite_ = false;
};

// A "FileName" value as it is stored: an absolute value unchanged, any other
// (a single leading separator included) joined to `logDirectory`.
ResultCode ResolveLogFileName(WStringView logDirectory, WStringView value, WString* out) noexcept;

}  // namespace zun
