#pragma once
// The day-rolled file appender: one log per UTC calendar day. At the first
// record after midnight, and whenever it opens a log created on an earlier
// day, the log takes the dated name of its creation day ("common.log"
// created on 7 March 2019 becomes "common.2019-03-07.log"), a new log
// starts, and old dated files are deleted. Any number of processes may
// write the same log through their own appenders.
#include <cstdint>
#include <memory>

#include "appenders/rolling_appender_base.h"
#include "platform/clock.h"

namespace zun {

// Configuration keys, read by LoadConfig in this order, then those of
// FileAppenderBase:
//   "AppenderType"  required: absent gives RC_ITEM_NOT_PRESENT, any value
//                   but "RollingDateFile" RC_APPENDER_TYPE_MISMATCH
//   "FilesCount"    dated files kept (a lenient number; absent 0)
//   "DaysCount"     days a dated file is kept (absent 0)
// Both counts non-zero: RC_INVALID_PARAMETER, and neither is stored. With
// neither, every dated file is deleted at each roll. SaveConfig writes
// "FilesCount" when it is not 0, else "DaysCount", then "AppenderType", then
// the keys of FileAppenderBase.
//
// Days and creation times come from the library's clock. The library keeps
// each log's creation time itself (platform/file_system.h), and a new log
// appears under its name only once it holds its mark and that time. The
// rename to the dated name happens only under the lock file's lock (or
// where there is no locking at all): a writer that finds the lock taken
// writes on into the log as it stands and moves to the new log as soon as
// the roll is done. Only names that are exactly the log's stem, a date and
// its extension are ever deleted.
class RollingDateFileAppender : public RollingAppenderBase {
 public:
  // `owner` (may be null: nothing is reported) is not owned and must
  // outlive the appender. RC_OUT_OF_MEMORY.
  static ResultCode Create(AppenderOwner* owner, WStringView name, WStringView logDirectory,
                           std::unique_ptr<RollingDateFileAppender>* out) noexcept;

  ResultCode LoadConfig(const ConfigSection& section) noexcept override;
  ResultCode SaveConfig(ConfigSection& section) noexcept override;

  std::uint32_t FilesCount() const noexcept;
  std::uint32_t DaysCount() const noexcept;

 protected:
  RollingDateFileAppender(AppenderOwner* owner, WString name, WString logDirectory) noexcept
      : RollingAppenderBase(owner, std::move(name), std::move(logDirectory)) {}

  ResultCode WriteRecord(const LogRecord& record, WStringView text) noexcept override;
  ResultCode OpenTarget() noexcept override;

 private:
  // Rolls the log when it was created before the day of `now`. True when
  // the name now holds no log of an earlier day.
  bool RollIfOld(FileTime now) noexcept;
  void DeleteExpired(FileTime now) noexcept;
  // Creates the log through a temporary file when it does not exist.
  void CreateIfMissing(FileTime now) noexcept;

  // Guarded by the appender's lock.
  std::uint32_t filesCount_ = 0;
  std::uint32_t daysCount_ = 0;
  FileTime nextRoll_ = ~FileTime{0};  // no roll is due before the first open
  // The open log was created on an earlier day and could not be rolled yet:
  // tried again once a second.
  bool stale_ = false;
  std::uint64_t retryAtMs_ = 0;
};

}  // namespace zun
