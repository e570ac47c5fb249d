#pragma once
// The plain file appender: every line appended to one log file.
#include <memory>

#include "appenders/file_appender_base.h"
#include "appenders/log_file.h"

namespace zun {

// Configuration: "AppenderType" must be "File" (absent: RC_ITEM_NOT_PRESENT,
// another value: RC_APPENDER_TYPE_MISMATCH), then the keys of
// FileAppenderBase. SaveConfig writes "AppenderType" first.
//
// The file is opened by the first record after creation or after a Close
// (flush, reconfiguration); its folder is created with all missing parents
// first, and its full path is reported to the owner. A file that cannot be
// opened fails that record only: the next record tries again. Destroying the
// appender closes the file without writing the footer.
class FileAppender : public FileAppenderBase {
 public:
  // `owner` (may be null: nothing is reported) is not owned and must
  // outlive the appender. RC_OUT_OF_MEMORY.
  static ResultCode Create(AppenderOwner* owner, WStringView name, WStringView logDirectory,
                           std::unique_ptr<FileAppender>* out) noexcept;

  ResultCode LoadConfig(const ConfigSection& section) noexcept override;
  ResultCode SaveConfig(ConfigSection& section) noexcept override;
  // Cuts the file to length 0 (no new mark); flushed when immediate write
  // is set. Does nothing while the file is closed.
  ResultCode Clear() noexcept override;

  // The encoding of the open file; kUndecided while closed.
  EncodingMode Encoding() const noexcept;

 protected:
  // `collectLines`: a batch of records goes to the file in one write. A
  // subclass that acts on the file after each line (a size check) keeps the
  // default.
  FileAppender(AppenderOwner* owner, WString name, WString logDirectory, bool collectLines = false) noexcept
      : FileAppenderBase(owner, std::move(name), std::move(logDirectory)), collectLines_(collectLines) {}

  ResultCode Write(WStringView text) noexcept override;
  bool CollectsLines() const noexcept override { return collectLines_; }
  ResultCode WriteCollected() noexcept override;
  ResultCode OpenTarget() noexcept override;
  ResultCode CloseTarget() noexcept override;
  void FinishDeferredLines() noexcept override;
  // The file's path names another file or none: moved or removed by another
  // program (logrotate, mv, rm). One stat of the path.
  bool TargetMoved() noexcept override;

 private:
  LogFile file_;  // guarded by the appender's lock
  const bool collectLines_;
};

}  // namespace zun
