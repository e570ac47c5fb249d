#pragma once
// The size-rolled file appender: when the log has grown beyond its limit it
// becomes backup 1 ("common.log" -> "common.log.1"), older backups move up
// by one, the oldest beyond the count goes, and a new log starts. Any number
// of processes may write the same log through their own appenders.
#include <cstdint>
#include <memory>

#include "appenders/rolling_appender_base.h"

namespace zun {

// Configuration keys, read by LoadConfig in this order, then those of
// FileAppenderBase:
//   "AppenderType"  may be absent; any value but "RollingFile" gives
//                   RC_APPENDER_TYPE_MISMATCH
//   "Size"          the byte count the log may reach (a lenient number);
//                   absent keeps the limit (1048576 for a new appender)
//   "FilesCount"    numbered backups kept; absent keeps the count (10 for a
//                   new appender); a smaller count removes the surplus
//                   backups of the file name in effect at once
// A number that does not parse is returned and nothing after it is read.
// SaveConfig writes "Size", "FilesCount", "AppenderType", then the keys of
// FileAppenderBase.
//
// Every record is one append; then the log's size is checked: from the
// byte count that all writers keep in the lock file's shared block, and from
// the file itself only when that count says the limit is passed (or when
// the block cannot be mapped). A log beyond the limit is closed (footer) and
// rolled under the lock file's lock, taken without waiting: a writer that
// finds it taken leaves the roll to its holder. The next record opens the
// new log (header). A writer whose log another writer has rolled moves to
// the new log before its next line.
class RollingFileAppender : public RollingAppenderBase {
 public:
  static constexpr std::int64_t kDefaultSizeLimit = 1048576;
  static constexpr std::uint32_t kDefaultFilesCount = 10;

  // `owner` (may be null: nothing is reported) is not owned and must
  // outlive the appender. RC_OUT_OF_MEMORY.
  static ResultCode Create(AppenderOwner* owner, WStringView name, WStringView logDirectory,
                           std::unique_ptr<RollingFileAppender>* out) noexcept;

  ResultCode LoadConfig(const ConfigSection& section) noexcept override;
  ResultCode SaveConfig(ConfigSection& section) noexcept override;

  std::int64_t SizeLimit() const noexcept;
  std::uint32_t FilesCount() const noexcept;

 protected:
  RollingFileAppender(AppenderOwner* owner, WString name, WString logDirectory) noexcept
      : RollingAppenderBase(owner, std::move(name), std::move(logDirectory)) {}

  ResultCode WriteRecord(const LogRecord& record, WStringView text) noexcept override;
  ResultCode OpenTarget() noexcept override;

 private:
  bool Exceeds(std::uint64_t size) const noexcept { return static_cast<std::int64_t>(size) > sizeLimit_; }
  ResultCode CheckSize() noexcept;
  ResultCode RollIfStillDue() noexcept;
  // Shifts the backups and renames the log; `*rolled` names the new backup.
  ResultCode RollFiles(WString* rolled) noexcept;

  // Guarded by the appender's lock.
  std::int64_t sizeLimit_ = kDefaultSizeLimit;
  std::uint32_t filesCount_ = kDefaultFilesCount;
  std::uint64_t currentSize_ = 0;  // the size of the log last seen beyond the limit
};

// Frees the name `path` at once, even while processes hold the file open: the
// file is renamed to a "zun-*.tmp" name in its folder, then deleted.
// RC_FILE_NOT_FOUND when there is no such file.
ResultCode RemoveThroughTemporary(WStringView path) noexcept;

}  // namespace zun
