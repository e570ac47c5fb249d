#pragma once
// What the size-rolled and the day-rolled appenders share: the log file,
// which other processes may rename while it is open, and the companion
// ".lock" file, whose lock orders rolls among processes and whose shared
// block lets every writer of the log notice a roll without asking the file
// system.
#include <atomic>
#include <cstdint>

#include "appenders/file_appender_base.h"
#include "appenders/log_file.h"
#include "platform/file_lock.h"

namespace zun {

// The words of the shared block of a ".lock" file. A new lock file holds
// zeros, which is a valid state for each.
enum class SharedWord : std::size_t {
  kGeneration = 0,     // odd while a roll is under way; moves on with every roll
  kAppendedBytes = 1,  // bytes the log has grown by, as its writers count them
  kCreationFloor = 2,  // the earliest creation time a new day-rolled log may take
};

// Lock order and threading as Appender. The lock file stays open from the
// first open of the log until Close (flush, reconfiguration).
class RollingAppenderBase : public FileAppenderBase {
 public:
  // The common close (footer, log file closed), then the lock file closed.
  ResultCode Close() noexcept override;

 protected:
  RollingAppenderBase(AppenderOwner* owner, WString name, WString logDirectory) noexcept
      : FileAppenderBase(owner, std::move(name), std::move(logDirectory)) {}

  // The log file write, flushed when immediate write is set.
  ResultCode Write(WStringView text) noexcept override;
  // Closes the log file only.
  ResultCode CloseTarget() noexcept override;
  // The log file was moved or removed by another program. A roll by another
  // writer of the log does not count: the writer follows it before its next
  // line, without a footer in the rolled file.
  bool TargetMoved() noexcept override;

  // What every open starts with: the full path (then TargetPath()), its
  // folder made (a failure shows in the open), the lock file opened unless
  // it is, and the roll generation noted, before the log file is opened so
  // that a roll after it is noticed.
  ResultCode PrepareTarget() noexcept;
  // Reports TargetPath() to the owner and opens it.
  ResultCode OpenLogFile() noexcept;
  const WString& TargetPath() const noexcept { return path_; }
  LogFile& File() noexcept { return file_; }

  enum class RollLock { kHeld, kWithoutLock, kRefused };
  // Takes the lock file's lock without waiting. kRefused when another writer
  // holds it or it fails for an unexpected reason: the caller leaves the
  // roll to that writer. kWithoutLock where locking cannot work here
  // (RC_INVALID_OPERATION, RC_LOCK_NOT_HELD, RC_NOT_SUPPORTED): the caller
  // rolls anyway.
  RollLock LockForRoll() noexcept;
  void UnlockAfterRoll() noexcept;

  // A word of the shared block; only while HasSharedBlock().
  bool HasSharedBlock() const noexcept { return lock_.Shared() != nullptr; }
  std::atomic_ref<std::uint64_t> Shared(SharedWord word) const noexcept {
    return std::atomic_ref<std::uint64_t>(static_cast<std::uint64_t*>(lock_.Shared())[std::size_t(word)]);
  }
  // Raises a word of the shared block to `atLeast`, or lowers it to
  // `atMost`, unless it is there already; nothing without the block.
  void RaiseShared(SharedWord word, std::uint64_t atLeast) noexcept;
  void LowerShared(SharedWord word, std::uint64_t atMost) noexcept;
  // Whether another writer has rolled the log since this appender opened
  // it, or is rolling it now. Always false without the shared block.
  bool RolledElsewhere() const noexcept;
  // Marks the log as being rolled (the generation turns odd) while this
  // appender holds the lock. A writer that finds the mark with the lock free
  // knows that its roller died and ends the roll in its place.
  void BeginRoll() noexcept;
  // Ends the roll: when the log was renamed or deleted, or a roll of a
  // writer that died was found under way, the generation moves on, and
  // every writer moves to the new log before its next line; otherwise it
  // goes back to what it was. This appender's next file counts as current.
  void EndRoll(bool renamed) noexcept;
  // What a writer does when RolledElsewhere(): while another writer is
  // rolling, it writes on into its file as long as the file has the log's
  // name; once the name holds another file (the roll is done, or its roller
  // was found dead and the roll ended here), Reopen without the footer.
  ResultCode FollowRoll(const LogRecord& record) noexcept;

  // Moves to the log file that stands under the name now: closes the target
  // with the footer or, when another writer has ended the file, without it;
  // opens it again (header) and writes the record's key record line.
  ResultCode Reopen(const LogRecord& record, bool withFooter) noexcept;
  // Tells the owner that `path` was rolled; the result does not matter.
  void ReportRolled(WStringView path) noexcept;

 private:
  LogFile file_;
  FileLock lock_;
  WString path_;
  std::uint64_t seenGeneration_ = 0;
  bool inheritedRoll_ = false;  // BeginRoll found a dead writer's roll under way
};

}  // namespace zun
