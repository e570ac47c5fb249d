#include "appenders/rolling_file_appender.h"

#include <algorithm>
#include <new>

#include "appenders/rolling_names.h"
#include "config/config_document.h"
#include "config/config_number.h"
#include "platform/directory_listing.h"
#include "platform/file_moves.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/random_sources.h"

namespace zun {

ResultCode RemoveThroughTemporary(WStringView path) noexcept {
  try {
    std::uint8_t random[16];
    FillUniqueBytes(random, sizeof random);
    WString temporary;
    ResultCode rc = CombinePath(ParentPart(path), TemporaryName(random), &temporary);
    if (Failed(rc)) return rc;
    rc = MoveFileNoReplace(path, temporary);
    if (Failed(rc)) return rc;
    DeleteFile(temporary);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

namespace {

// The highest number of a backup of `path` in its folder, at most `limit`;
// `limit` itself when the folder cannot be listed. A roll then renames only
// names that may exist, however large the count of backups kept.
std::uint32_t HighestBackup(WStringView path, std::uint32_t limit) noexcept {
  try {
    const WStringView name = FileNamePart(path);
    const WStringView folder = ParentPart(path);
    DirectoryListing listing;
    if (Failed(listing.Open(folder.empty() ? WStringView(u".") : folder, WString(name) + u".*",
                            kListFiles | kListLinks))) {
      return limit;
    }
    std::uint32_t highest = 0;
    for (ResultCode rc = listing.First(); rc == RC_OK; rc = listing.Next()) {
      // The pattern ignores case; backup names do not.
      const WStringView entry = ViewOf(listing.Current().name);
      if (!entry.starts_with(name) || entry.size() == name.size() + 1) continue;
      const WStringView digits = entry.substr(name.size() + 1);
      std::uint64_t number = 0;
      for (std::size_t i = 0; i < digits.size() && number <= limit; ++i) {
        number = digits[i] >= u'0' && digits[i] <= u'9' && (i > 0 || digits[i] != u'0')
                     ? number * 10 + static_cast<std::uint64_t>(digits[i] - u'0')
                     : std::uint64_t{limit} + 1;
      }
      if (number <= limit) highest = std::max(highest, static_cast<std::uint32_t>(number));
    }
    return highest;
  } catch (const std::bad_alloc&) {
    return limit;
  }
}

}  // namespace

ResultCode RollingFileAppender::Create(AppenderOwner* owner, WStringView name, WStringView logDirectory,
                                       std::unique_ptr<RollingFileAppender>* out) noexcept {
  try {
    out->reset(new RollingFileAppender(owner, WString(name), WString(logDirectory)));
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

std::int64_t RollingFileAppender::SizeLimit() const noexcept {
  auto guard = LockGuard();
  return sizeLimit_;
}

std::uint32_t RollingFileAppender::FilesCount() const noexcept {
  auto guard = LockGuard();
  return filesCount_;
}

ResultCode RollingFileAppender::LoadConfig(const ConfigSection& section) noexcept {
  auto guard = LockGuard();
  try {
    WString type;
    ResultCode rc = section.GetValue(u"AppenderType", &type);
    if (Succeeded(rc) && type != u"RollingFile") return RC_APPENDER_TYPE_MISMATCH;
    if (Failed(rc) && rc != RC_ITEM_NOT_PRESENT) return rc;

    std::uint64_t size = static_cast<std::uint64_t>(sizeLimit_);
    rc = GetNumber64(section, u"Size", &size);
    if (Failed(rc) && rc != RC_ITEM_NOT_PRESENT) return rc;
    sizeLimit_ = static_cast<std::int64_t>(size);

    std::uint32_t count = filesCount_;
    rc = GetNumber32(section, u"FilesCount", &count);
    if (Failed(rc) && rc != RC_ITEM_NOT_PRESENT) return rc;
    // Only this appender's own backups go: before the first configuration
    // there is no file name, and so nothing to remove.
    WString path;
    if (count < filesCount_ && !FileName().empty() && Succeeded(FullPath(&path))) {
      for (std::uint32_t number = filesCount_; number > count; --number) {
        RemoveThroughTemporary(BackupName(path, number));
      }
    }
    filesCount_ = count;
    return FileAppenderBase::LoadConfig(section);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode RollingFileAppender::SaveConfig(ConfigSection& section) noexcept {
  try {
    ResultCode rc = section.SetValue(u"Size", DecimalText(SizeLimit()));
    if (Succeeded(rc)) rc = section.SetValue(u"FilesCount", DecimalText(FilesCount()));
    if (Succeeded(rc)) rc = section.SetValue(u"AppenderType", u"RollingFile");
    if (Failed(rc)) return rc;
    return FileAppenderBase::SaveConfig(section);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode RollingFileAppender::OpenTarget() noexcept {
  ResultCode rc = PrepareTarget();
  if (Succeeded(rc)) rc = OpenLogFile();
  if (Failed(rc)) return rc;
  // The shared count never stays below what the file really holds (a log
  // left from before the lock file existed, a writer that died between its
  // write and its count).
  std::uint64_t size = 0;
  if (HasSharedBlock() && Succeeded(File().Size(&size))) RaiseShared(SharedWord::kAppendedBytes, size);
  return RC_OK;
}

ResultCode RollingFileAppender::WriteRecord(const LogRecord& record, WStringView text) noexcept {
  if (InDirectWrite()) return Write(text);
  if (RolledElsewhere()) {
    const ResultCode rc = FollowRoll(record);
    if (Failed(rc)) return rc;
  }
  const ResultCode rc = Write(text);
  if (Failed(rc)) return rc;
  return CheckSize();
}

ResultCode RollingFileAppender::CheckSize() noexcept {
  if (HasSharedBlock()) {
    const std::uint64_t line = File().LastWriteBytes();
    if (!Exceeds(Shared(SharedWord::kAppendedBytes).fetch_add(line, std::memory_order_relaxed) + line)) {
      return RC_OK;
    }
  }
  std::uint64_t size = 0;
  const ResultCode rc = File().Size(&size);
  if (Failed(rc)) return rc;
  if (!Exceeds(size)) {
    // Lines counted for a file that was rolled away since: the file's own
    // size sets the count right again. Lines other writers append while this
    // happens may go uncounted; the count only ever lags by those few.
    LowerShared(SharedWord::kAppendedBytes, size);
    return RC_OK;
  }
  currentSize_ = size;
  return RollIfStillDue();
}

ResultCode RollingFileAppender::RollIfStillDue() noexcept {
  // Its holder is rolling this log: lines go on into this file, which the
  // writer leaves for the new log once it sees the roll, with no footer and
  // header between them.
  if (LockForRoll() == RollLock::kRefused) return RC_OK;
  Appender::Close();  // footer; whatever it gives, the roll goes on
  ResultCode rc = RC_OK;
  WString rolled;
  // A log that another writer rolled after this one opened it is new, and
  // smaller than the size seen here.
  FileFacts facts;
  if (!RolledElsewhere() && Succeeded(ReadFileFacts(TargetPath(), true, &facts)) &&
      facts.size >= currentSize_) {
    rc = RollFiles(&rolled);
  }
  UnlockAfterRoll();
  // Reported once the lock is free: the compression looks through the folder.
  if (!rolled.empty()) ReportRolled(rolled);
  return rc;
}

ResultCode RollingFileAppender::RollFiles(WString* rolled) noexcept {
  const WString& path = TargetPath();
  try {
    // Counted from now on: the new log, and lines that still reach the old
    // one until their writers notice the roll (which only makes the count
    // high, never low).
    if (filesCount_ != 0) {
      const std::uint32_t highest = HighestBackup(path, filesCount_);
      if (highest == filesCount_) RemoveThroughTemporary(BackupName(path, filesCount_));
      for (std::uint32_t number = std::min(highest, filesCount_ - 1); number >= 1; --number) {
        MoveFileNoReplace(BackupName(path, number), BackupName(path, number + 1));
      }
    }
    WString first = BackupName(path, 1);
    if (HasSharedBlock()) Shared(SharedWord::kAppendedBytes).store(0, std::memory_order_relaxed);
    BeginRoll();
    if (filesCount_ == 0) {
      const ResultCode rc = DeleteFile(path);
      EndRoll(/*renamed=*/true);
      return rc;
    }
    const ResultCode moved = MoveFileNoReplace(path, first);
    // A log that cannot be moved keeps its lines and grows on; the roll is
    // tried again at the next size check.
    EndRoll(/*renamed=*/Succeeded(moved));
    if (Succeeded(moved)) *rolled = std::move(first);
    return moved;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
