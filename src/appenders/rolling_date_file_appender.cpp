#include "appenders/rolling_date_file_appender.h"

#include <algorithm>
#include <new>
#include <vector>

#include "appenders/rolling_names.h"
#include "config/config_document.h"
#include "config/config_number.h"
#include "platform/directory_listing.h"
#include "platform/file_moves.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/random_sources.h"
#include "records/log_record.h"

namespace zun {

namespace {

constexpr std::uint64_t kStaleRetryMs = 1000;

// The creation day of the file at `path`; false when it cannot be read.
bool CreationDay(WStringView path, std::uint64_t* day, FileTime* created = nullptr) {
  FileFacts facts;
  if (Failed(ReadFileFacts(path, true, &facts))) return false;
  *day = DayNumber(facts.creationTime);
  if (created != nullptr) *created = facts.creationTime;
  return true;
}

}  // namespace

ResultCode RollingDateFileAppender::Create(AppenderOwner* owner, WStringView name, WStringView logDirectory,
                                           std::unique_ptr<RollingDateFileAppender>* out) noexcept {
  try {
    out->reset(new RollingDateFileAppender(owner, WString(name), WString(logDirectory)));
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

std::uint32_t RollingDateFileAppender::FilesCount() const noexcept {
  auto guard = LockGuard();
  return filesCount_;
}

std::uint32_t RollingDateFileAppender::DaysCount() const noexcept {
  auto guard = LockGuard();
  return daysCount_;
}

ResultCode RollingDateFileAppender::LoadConfig(const ConfigSection& section) noexcept {
  ResultCode rc = CheckAppenderType(section, u"RollingDateFile");
  if (Failed(rc)) return rc;
  std::uint32_t files = 0, days = 0;
  rc = GetNumber32(section, u"FilesCount", &files);
  if (Failed(rc) && rc != RC_ITEM_NOT_PRESENT) return rc;
  rc = GetNumber32(section, u"DaysCount", &days);
  if (Failed(rc) && rc != RC_ITEM_NOT_PRESENT) return rc;
  if (files != 0 && days != 0) return RC_INVALID_PARAMETER;
  {
    auto guard = LockGuard();
    filesCount_ = files;
    daysCount_ = days;
  }
  return FileAppenderBase::LoadConfig(section);
}

ResultCode RollingDateFileAppender::SaveConfig(ConfigSection& section) noexcept {
  try {
    const std::uint32_t files = FilesCount();
    ResultCode rc = files != 0 ? section.SetValue(u"FilesCount", DecimalText(files))
                               : section.SetValue(u"DaysCount", DecimalText(DaysCount()));
    if (Succeeded(rc)) rc = section.SetValue(u"AppenderType", u"RollingDateFile");
    if (Failed(rc)) return rc;
    return FileAppenderBase::SaveConfig(section);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode RollingDateFileAppender::WriteRecord(const LogRecord& record, WStringView text) noexcept {
  if (InDirectWrite()) return Write(text);
  const FileTime now = SystemTimeNow();
  ResultCode rc = RC_OK;
  if (RolledElsewhere()) {
    rc = FollowRoll(record);
  } else if (now >= nextRoll_) {
    rc = Reopen(record, /*withFooter=*/true);  // the open rolls the old day's log
  } else if (stale_ && TickCountMs() >= retryAtMs_) {
    retryAtMs_ = TickCountMs() + kStaleRetryMs;
    if (RollIfOld(now)) rc = Reopen(record, /*withFooter=*/false);
  }
  if (Failed(rc)) return rc;
  return Write(text);
}

ResultCode RollingDateFileAppender::OpenTarget() noexcept {
  ResultCode rc = PrepareTarget();
  if (Failed(rc)) return rc;
  const FileTime now = SystemTimeNow();
  nextRoll_ = NextRollTime(now);
  RollIfOld(now);
  CreateIfMissing(now);
  rc = OpenLogFile();
  if (Failed(rc)) return rc;
  std::uint64_t day = 0;
  stale_ = CreationDay(TargetPath(), &day) && day < DayNumber(now);
  retryAtMs_ = TickCountMs() + kStaleRetryMs;
  return RC_OK;
}

bool RollingDateFileAppender::RollIfOld(FileTime now) noexcept {
  const WString& path = TargetPath();
  std::uint64_t day = 0;
  if (!CreationDay(path, &day) || day >= DayNumber(now)) return true;
  if (LockForRoll() == RollLock::kRefused) return false;
  BeginRoll();
  // Another writer may have rolled it between the look above and the lock.
  FileTime created = 0;
  const bool old = CreationDay(path, &day, &created) && day < DayNumber(now);
  WString dated;
  bool renamed = false;
  if (old) {
    try {
      dated = DatedName(path, created);
      renamed = Succeeded(MoveFileNoReplace(path, dated));
    } catch (const std::bad_alloc&) {
    }
  }
  if (renamed) {
    // A writer whose clock still shows the old day must not give the new
    // log a creation time on that day.
    RaiseShared(SharedWord::kCreationFloor, DayNumber(now) * kFileTimeDay);
  }
  EndRoll(renamed);
  if (old) DeleteExpired(now);
  UnlockAfterRoll();
  // Reported once the lock is free: the compression looks through the folder.
  if (renamed) ReportRolled(dated);
  return !old || renamed;
}

void RollingDateFileAppender::DeleteExpired(FileTime now) noexcept {
  try {
    const WStringView name = FileNamePart(TargetPath());
    const WStringView folder = ParentPart(TargetPath());
    DirectoryListing listing;
    if (Failed(listing.Open(folder.empty() ? WStringView(u".") : folder, DatedPattern(name), kListFiles))) {
      return;
    }
    std::vector<DatedFile> files;
    for (ResultCode rc = listing.First(); rc == RC_OK; rc = listing.Next()) {
      const DirectoryEntry& entry = listing.Current();
      if (IsDatedName(name, ViewOf(entry.name))) files.push_back({entry.creationTime, WString(entry.name)});
    }
    listing.Close();
    const std::size_t expired = OrderAndCountExpired(files, filesCount_, daysCount_, now);
    WString path;
    for (std::size_t i = 0; i < expired; ++i) {
      if (Succeeded(CombinePath(folder, files[i].name, &path))) DeleteFile(path);
    }
  } catch (const std::bad_alloc&) {
  }
}

void RollingDateFileAppender::CreateIfMissing(FileTime now) noexcept {
  const WString& path = TargetPath();
  FileFacts facts;
  if (ReadFileFacts(path, true, &facts) != RC_FILE_NOT_FOUND) return;
  FileTime created = now;
  if (HasSharedBlock())
    created = std::max(created, Shared(SharedWord::kCreationFloor).load(std::memory_order_relaxed));
  try {
    std::uint8_t random[16];
    FillUniqueBytes(random, sizeof random);
    WString temporary;
    if (Failed(CombinePath(ParentPart(path), TemporaryName(random), &temporary))) return;
    // The log appears under its name with its mark and creation time, or not
    // at all (another writer's log came first).
    if (Failed(CreateFileWithContent(temporary, "\xEF\xBB\xBF", created))) return;
    if (Failed(MoveFileNoReplace(temporary, path))) DeleteFile(temporary);
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace zun
