#include "appenders/appender.h"

#include <atomic>
#include <limits>
#include <new>

#include "appenders/layout.h"
#include "appenders/log_file.h"
#include "base/lasting.h"
#include "config/config_document.h"
#include "records/log_record.h"

namespace zun {

namespace {

// Headers and footers travel as this record: every text empty, every number 0.
const LogRecord& EmptyRecord() {
  static Lasting<const LogRecord> empty;
  return *empty;
}

std::atomic<std::uint32_t> gRouteGeneration{1};

}  // namespace

std::uint32_t Appender::RouteGeneration() noexcept {
  return gRouteGeneration.load(std::memory_order_acquire);
}

void Appender::NoteRouteChange() noexcept {
  // 0 stays free, so a cache that was never filled never looks current.
  if (gRouteGeneration.fetch_add(1, std::memory_order_acq_rel) + 1 == 0) {
    gRouteGeneration.fetch_add(1, std::memory_order_acq_rel);
  }
}

std::int64_t Appender::LowestTakenSeverity() const noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (retired_) return std::numeric_limits<std::int64_t>::min();
  if (layout_ == nullptr) return std::numeric_limits<std::int64_t>::max();
  return breakSeverity_;
}

ResultCode Appender::Append(const LogRecord& record) noexcept {
  DeferredLine line;
  const ResultCode rc = AppendDeferring(record, &line);
  if (Failed(rc)) return rc;
  return LogFile::WriteDeferred(line);
}

ResultCode Appender::AppendDeferring(const LogRecord& record, DeferredLine* line) noexcept {
  // The line may go out after the lock is released, so that other threads
  // render theirs while this one is in the write.
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return AppendLocked(record, line);
}

ResultCode Appender::AppendLocked(const LogRecord& record, DeferredLine* line) noexcept {
  if (retired_) return RC_NOT_AVAILABLE;
  if (layout_ == nullptr) return RC_OK;
  if (record.severity < breakSeverity_) return RC_OK;

  // Only a message that holds a line break is copied, and only when asked.
  const LogRecord* shown = &record;
  if (escapeLineBreaks_ && HoldsLineBreak(record.message)) {
    try {
      escaped_ = record;
    } catch (const std::bad_alloc&) {
      return RC_OUT_OF_MEMORY;
    }
    ReplaceLineBreaks(escaped_.message);
    shown = &escaped_;
  }
  ResultCode rc = layout_->Render(rendered_, *shown);
  if (Failed(rc)) return rc;

  if (targetMoved_) {
    targetMoved_ = false;
    // The footer still goes to the old target; failing that keeps nothing.
    Close();
    if (opened_) DropTarget(RC_OK);
  }
  if (!opened_) {
    rc = Open();
    if (Failed(rc)) return rc;
    // Protected texts of the record are readable only with the key record
    // line before them, so a target without it is not written to at all.
    const WString& keyLine = record.KeyRecordLineText();
    if (!keyLine.empty()) {
      rc = Write(keyLine);
      if (Failed(rc)) return DropTarget(rc);
    }
  }
  deferred_ = line;
  rc = WriteRecord(record, rendered_);
  deferred_ = nullptr;
  return rc;
}

void Appender::AppendBatch(const LogRecord* const* records, std::size_t count,
                           std::uint8_t* failed) noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (layout_ == nullptr) return;
  collecting_ = CollectsLines();
  for (std::size_t i = 0; i < count; ++i) {
    if (Failed(AppendLocked(*records[i], nullptr))) failed[i] = 1;
  }
  if (!collecting_) return;
  collecting_ = false;
  if (Succeeded(WriteCollected())) return;
  for (std::size_t i = 0; i < count; ++i) {
    if (records[i]->severity >= breakSeverity_) failed[i] = 1;
  }
}

ResultCode Appender::Open() noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (opened_) return RC_OK;
  ResultCode rc = OpenTarget();
  if (Failed(rc)) return rc;
  opened_ = true;
  if (layout_ == nullptr) return RC_OK;
  try {
    WString header;
    rc = layout_->GetHeader(header);
    if (Succeeded(rc) && !header.empty()) rc = WriteDirect(header);
  } catch (const std::bad_alloc&) {
    rc = RC_OUT_OF_MEMORY;
  }
  return Failed(rc) ? DropTarget(rc) : RC_OK;
}

ResultCode Appender::DropTarget(ResultCode failure) noexcept {
  opened_ = false;
  CloseTarget();
  return failure;
}

ResultCode Appender::WriteDirect(WStringView text) noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  const bool outer = directWrite_;
  directWrite_ = true;
  const ResultCode rc = WriteRecord(EmptyRecord(), text);
  directWrite_ = outer;
  return rc;
}

ResultCode Appender::Flush() noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return Close();
}

void Appender::CheckTarget() noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (opened_ && !targetMoved_) targetMoved_ = TargetMoved();
}

ResultCode Appender::Retire() noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  retired_ = true;
  NoteRouteChange();
  return Close();
}

ResultCode Appender::Close() noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!opened_) return RC_OK;
  FinishDeferredLines();
  if (layout_ != nullptr) {
    try {
      WString footer;
      ResultCode rc = layout_->GetFooter(footer);
      if (Failed(rc)) return rc;
      if (!footer.empty()) {
        rc = WriteDirect(footer);
        if (Failed(rc)) return rc;
      }
    } catch (const std::bad_alloc&) {
      return RC_OUT_OF_MEMORY;
    }
  }
  // A target whose close failed is gone all the same (Linux releases a
  // descriptor whatever close reports), so the next record opens it anew.
  opened_ = false;
  return CloseTarget();
}

ResultCode Appender::CloseWithoutFooter() noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  opened_ = false;
  return CloseTarget();
}

ResultCode Appender::Clear() noexcept { return RC_OK; }

ResultCode Appender::LoadConfig(const ConfigSection& section) noexcept { return LoadBaseConfig(section); }

ResultCode Appender::SaveConfig(ConfigSection& section) noexcept { return SaveBaseConfig(section); }

void Appender::AttachLayout(const Layout* layout) noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  layout_ = layout;
  NoteRouteChange();
}

const Layout* Appender::AttachedLayout() const noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return layout_;
}

Severity Appender::BreakSeverity() const noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return breakSeverity_;
}

bool Appender::IsOpened() const noexcept {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return opened_;
}

ResultCode Appender::WriteRecord(const LogRecord& /*record*/, WStringView text) noexcept {
  return Write(text);
}

ResultCode Appender::OpenTarget() noexcept { return RC_OK; }

ResultCode Appender::CloseTarget() noexcept { return RC_OK; }

bool Appender::TargetMoved() noexcept { return false; }

ResultCode Appender::LoadBaseConfig(const ConfigSection& section) noexcept {
  try {
    WString value;
    ResultCode rc = section.GetValue(u"BreakSeverity", &value);
    Severity severity = kSeverityAll;
    if (rc == RC_ITEM_NOT_PRESENT) {
      severity = kSeverityAll;
    } else if (Failed(rc)) {
      return rc;
    } else {
      severity = SeverityFromText(value, kSeverityInfo);
    }
    rc = section.GetValue(u"EscapeLineBreaks", &value);
    if (Failed(rc) && rc != RC_ITEM_NOT_PRESENT) return rc;
    const bool escape = Succeeded(rc) && IsTrueValue(value);
    std::lock_guard<std::recursive_mutex> guard(lock_);
    breakSeverity_ = severity;
    escapeLineBreaks_ = escape;
    NoteRouteChange();
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

bool Appender::IsTrueValue(WStringView value) noexcept {
  return value == u"true" || value == u"yes" || value == u"1";
}

ResultCode Appender::CheckAppenderType(const ConfigSection& section, WStringView expected) noexcept {
  try {
    WString type;
    const ResultCode rc = section.GetValue(u"AppenderType", &type);
    if (Failed(rc)) return rc;
    return type == expected ? RC_OK : RC_APPENDER_TYPE_MISMATCH;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode Appender::SaveBaseConfig(ConfigSection& section) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    ResultCode rc = section.SetValue(u"BreakSeverity", SeverityToText(breakSeverity_));
    if (Succeeded(rc) && escapeLineBreaks_) rc = section.SetValue(u"EscapeLineBreaks", u"true");
    if (Failed(rc)) return rc;
    return section.SetValue(u"Type", u"Appender");
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
