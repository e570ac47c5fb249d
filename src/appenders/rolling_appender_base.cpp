#include "appenders/rolling_appender_base.h"

#include <new>

#include "appenders/appender_owner.h"
#include "appenders/rolling_names.h"
#include "platform/paths.h"
#include "records/log_record.h"

namespace zun {

ResultCode RollingAppenderBase::Close() noexcept {
  auto guard = LockGuard();
  const ResultCode rc = Appender::Close();
  if (Failed(rc)) return rc;
  lock_.Close();
  return RC_OK;
}

ResultCode RollingAppenderBase::Write(WStringView text) noexcept {
  const ResultCode rc = file_.Write(text);
  if (Failed(rc) || !ImmediateWriteHeld()) return rc;
  return file_.Flush();
}

ResultCode RollingAppenderBase::CloseTarget() noexcept { return file_.Close(); }

bool RollingAppenderBase::TargetMoved() noexcept { return !RolledElsewhere() && !file_.StillAtPath(); }

ResultCode RollingAppenderBase::PrepareTarget() noexcept {
  ResultCode rc = FullPath(&path_);
  if (Failed(rc)) return rc;
  const WStringView parent = ParentPart(path_);
  if (!parent.empty()) CreateDirectoryTree(parent);
  if (!lock_.IsOpen()) {
    try {
      rc = lock_.Open(LockFileName(path_));
    } catch (const std::bad_alloc&) {
      rc = RC_OUT_OF_MEMORY;
    }
    if (Failed(rc)) return rc;
  }
  seenGeneration_ = HasSharedBlock() ? Shared(SharedWord::kGeneration).load(std::memory_order_acquire) : 0;
  return RC_OK;
}

ResultCode RollingAppenderBase::OpenLogFile() noexcept {
  if (Owner() != nullptr) Owner()->ReportOpenedFile(path_);
  return file_.Open(path_);
}

RollingAppenderBase::RollLock RollingAppenderBase::LockForRoll() noexcept {
  const ResultCode rc = lock_.TryLock();
  if (Succeeded(rc)) return RollLock::kHeld;
  if (rc == RC_INVALID_OPERATION || rc == RC_LOCK_NOT_HELD || rc == RC_NOT_SUPPORTED) {
    return RollLock::kWithoutLock;
  }
  return RollLock::kRefused;
}

void RollingAppenderBase::UnlockAfterRoll() noexcept {
  if (lock_.IsLocked()) lock_.Unlock();
}

void RollingAppenderBase::RaiseShared(SharedWord word, std::uint64_t atLeast) noexcept {
  if (!HasSharedBlock()) return;
  auto value = Shared(word);
  std::uint64_t seen = value.load(std::memory_order_relaxed);
  while (seen < atLeast && !value.compare_exchange_weak(seen, atLeast, std::memory_order_relaxed)) {
  }
}

void RollingAppenderBase::LowerShared(SharedWord word, std::uint64_t atMost) noexcept {
  if (!HasSharedBlock()) return;
  auto value = Shared(word);
  std::uint64_t seen = value.load(std::memory_order_relaxed);
  while (seen > atMost && !value.compare_exchange_weak(seen, atMost, std::memory_order_relaxed)) {
  }
}

bool RollingAppenderBase::RolledElsewhere() const noexcept {
  if (!HasSharedBlock()) return false;
  const std::uint64_t generation = Shared(SharedWord::kGeneration).load(std::memory_order_acquire);
  return generation != seenGeneration_ || (generation & 1) != 0;
}

// Odd values are written only by the holder of the lock, so a plain store
// cannot lose another roll's step; the even steps of writers without any
// locking add.
void RollingAppenderBase::BeginRoll() noexcept {
  inheritedRoll_ = false;
  if (!HasSharedBlock() || !lock_.IsLocked()) return;
  auto generation = Shared(SharedWord::kGeneration);
  const std::uint64_t now = generation.load(std::memory_order_acquire);
  inheritedRoll_ = (now & 1) != 0;
  if (!inheritedRoll_) generation.store(now + 1, std::memory_order_release);
}

void RollingAppenderBase::EndRoll(bool renamed) noexcept {
  if (!HasSharedBlock()) return;
  auto generation = Shared(SharedWord::kGeneration);
  const std::uint64_t now = generation.load(std::memory_order_acquire);
  const bool moved = renamed || inheritedRoll_;
  inheritedRoll_ = false;
  if ((now & 1) != 0) {
    seenGeneration_ = moved ? now + 1 : now - 1;
    generation.store(seenGeneration_, std::memory_order_release);
  } else if (moved) {
    seenGeneration_ = generation.fetch_add(2, std::memory_order_release) + 2;
  }
}

ResultCode RollingAppenderBase::FollowRoll(const LogRecord& record) noexcept {
  auto generation = Shared(SharedWord::kGeneration);
  std::uint64_t now = generation.load(std::memory_order_acquire);
  if ((now & 1) != 0) {
    if (LockForRoll() == RollLock::kRefused) {
      // Under way: lines go on into this file until the rename takes its name.
      return file_.StillAtPath() ? RC_OK : Reopen(record, /*withFooter=*/false);
    }
    // Free while the mark stands: the roller died before it ended its roll.
    BeginRoll();
    EndRoll(/*renamed=*/true);
    UnlockAfterRoll();
    now = seenGeneration_;
  }
  // The generation is read before the file is looked at, so a roll after
  // the look still shows.
  if (file_.StillAtPath()) {
    seenGeneration_ = now;
    return RC_OK;
  }
  return Reopen(record, /*withFooter=*/false);
}

ResultCode RollingAppenderBase::Reopen(const LogRecord& record, bool withFooter) noexcept {
  ResultCode rc = withFooter ? Appender::Close() : CloseWithoutFooter();
  if (Failed(rc)) return rc;
  rc = Open();
  if (Failed(rc)) return rc;
  const WString& key = record.KeyRecordLineText();
  return key.empty() ? RC_OK : Write(key);
}

void RollingAppenderBase::ReportRolled(WStringView path) noexcept {
  if (Owner() != nullptr) Owner()->ReportRolledFile(path);
}

}  // namespace zun
