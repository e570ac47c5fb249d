#pragma once
// The base of every appender: it owns the lock and the open/close protocol
// (header at open, the record's key record line first after an open through
// Append, footer at close); subclasses supply the target through the hooks.
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "base/result_code.h"
#include "base/text.h"
#include "records/log_record.h"
#include "records/severity.h"

namespace zun {

class AppenderOwner;
class ConfigSection;
class Layout;
struct DeferredLine;

// Thread safe: every public operation takes the appender's own recursive
// lock, so one appender writes one line at a time. No operation throws; every
// outcome is a code. Lock order: a logger's lock, then an appender's lock,
// then the owner's locks.
class Appender {
 public:
  virtual ~Appender() = default;
  Appender(const Appender&) = delete;
  Appender& operator=(const Appender&) = delete;

  // The configuration section name; fixed at creation.
  const WString& Name() const { return name_; }

  // Writes one record: dropped (success) without a layout or below the break
  // severity; otherwise rendered, the target opened when it is closed (header,
  // then the record's key record line when it has one), and the line written.
  // A failure of any step is returned and the record is lost. An opening
  // whose header or key record line could not be written is closed again,
  // and the next record tries anew.
  ResultCode Append(const LogRecord& record) noexcept;
  // As Append, except that a line the target lets go out without the lock
  // (a plain log file's) is left in `line` (line->file set) for the caller to
  // write with LogFile::WriteDeferred once it holds no lock of its own; the
  // record is written only then, and the code of that write is the record's.
  ResultCode AppendDeferring(const LogRecord& record, DeferredLine* line) noexcept;

  // Several records under one hold of the lock, each as Append would write
  // it; failed[i] becomes 1 for each record that was lost (the others are
  // left as they are). A target that collects lines (CollectsLines) takes
  // the lines of the whole batch in one write; when that write fails, every
  // record of the batch that was not dropped counts as lost.
  void AppendBatch(const LogRecord* const* records, std::size_t count, std::uint8_t* failed) noexcept;

  // Opens the target and writes the layout's header. When either fails the
  // appender stays closed.
  ResultCode Open() noexcept;

  // Writes `text` as a line of its own, carried by an empty record.
  ResultCode WriteDirect(WStringView text) noexcept;

  // What flushing the log does to an appender: Close under the lock (footer
  // written, target closed); the next record reopens the target.
  ResultCode Flush() noexcept;

  // Housekeeping, about once a second, from any thread: asks whether the
  // open target is still the one the configuration names (another program
  // may have moved or removed a log file). One that is not is closed (footer
  // written) and opened anew by the next record, under the lock, so no
  // target is ever closed under a writer.
  void CheckTarget() noexcept;
  // Closes the target for good: every later record fails with
  // RC_NOT_AVAILABLE. For process exit, which ends threads wherever they
  // are: once this returned, no write of this appender is under way, so the
  // end of the process cuts no line.
  ResultCode Retire() noexcept;

  // Writes the layout's footer and closes the target when opened. A failed
  // footer write leaves the appender opened and the target open; a failed
  // close is returned and leaves the appender closed.
  virtual ResultCode Close() noexcept;
  // Empties the target; the default does nothing.
  virtual ResultCode Clear() noexcept;
  // Reads the base keys; subclasses read their own keys first.
  virtual ResultCode LoadConfig(const ConfigSection& section) noexcept;
  // Writes the appender's settings into `section`.
  virtual ResultCode SaveConfig(ConfigSection& section) noexcept;

  // The layout is not owned and must outlive its attachment; null detaches
  // (the appender then writes nothing).
  void AttachLayout(const Layout* layout) noexcept;
  const Layout* AttachedLayout() const noexcept;
  Severity BreakSeverity() const noexcept;
  bool IsOpened() const noexcept;

  // The lowest severity of a record for which Append does more than return
  // success at once: the break severity; the lowest of all once retired
  // (records then fail); above every severity without a layout.
  std::int64_t LowestTakenSeverity() const noexcept;
  // Counts the changes of what appenders take and of which appenders loggers
  // write to: anything that caches LowestTakenSeverity over a logger's
  // appenders is current while this has not moved. Never 0. Appenders count
  // their own changes; the logger tree counts its own with NoteRouteChange.
  static std::uint32_t RouteGeneration() noexcept;
  static void NoteRouteChange() noexcept;
  AppenderOwner* Owner() const noexcept { return owner_; }

  // Holds the appender's lock across several calls, as reconfiguration does
  // (Close, LoadConfig, AttachLayout under one lock).
  [[nodiscard]] std::unique_lock<std::recursive_mutex> LockGuard() const {
    return std::unique_lock<std::recursive_mutex>(lock_);
  }

 protected:
  // `owner` is not owned and outlives the appender.
  Appender(AppenderOwner* owner, WString name) noexcept : owner_(owner), name_(std::move(name)) {}

  // Hooks, called with the lock held.
  // Writes one line (without terminator) to the target.
  virtual ResultCode Write(WStringView text) noexcept = 0;
  // Writes a record's rendered line; the default calls Write.
  virtual ResultCode WriteRecord(const LogRecord& record, WStringView text) noexcept;
  virtual ResultCode OpenTarget() noexcept;
  virtual ResultCode CloseTarget() noexcept;
  // True when the open target went away and should be opened anew; the
  // default: false. Called while opened, at most about once a second.
  virtual bool TargetMoved() noexcept;
  // Whether Write may keep the lines of a batch and write them all in
  // WriteCollected; the default writes each line at once. Write asks
  // Collecting() to know which is wanted.
  virtual bool CollectsLines() const noexcept { return false; }
  virtual ResultCode WriteCollected() noexcept { return RC_OK; }
  bool Collecting() const noexcept { return collecting_; }
  // While Append writes a record's own line (not a header, footer or key
  // record line, and not inside a batch): where Write may leave that line to
  // be written once the lock is released (LogFile::Write); null otherwise.
  DeferredLine* LineAfterUnlock() const noexcept { return deferred_; }
  // Waits until every line left that way is written; before a footer, so
  // the footer stays the last line. The default has none to wait for.
  virtual void FinishDeferredLines() noexcept {}

  // Closes the target without the footer, for a target that another writer
  // has already ended (a log rolled away by another process).
  ResultCode CloseWithoutFooter() noexcept;

  // True while WriteDirect writes a header or footer line: such lines are
  // written as they come, never the reason for a roll.
  bool InDirectWrite() const noexcept { return directWrite_; }

  // The base part of the configuration. "BreakSeverity": a severity name,
  // any other text INFO, absent ALL. "EscapeLineBreaks": on for "true",
  // "yes" or "1", else off (the default); when on, each carriage return and
  // line feed of a record's message is rendered as kLineBreakStandIn, so a
  // message never makes a second line. Saving writes "BreakSeverity", "Type"
  // and, only when on, "EscapeLineBreaks".
  ResultCode LoadBaseConfig(const ConfigSection& section) noexcept;
  ResultCode SaveBaseConfig(ConfigSection& section) noexcept;

  // A boolean key's value: true for exactly "true", "yes" or "1".
  static bool IsTrueValue(WStringView value) noexcept;

  // "AppenderType" compared exactly with `expected`: RC_ITEM_NOT_PRESENT
  // when absent, RC_APPENDER_TYPE_MISMATCH for another value.
  static ResultCode CheckAppenderType(const ConfigSection& section, WStringView expected) noexcept;

 private:
  // Closes the target without a footer; returns `failure`.
  ResultCode DropTarget(ResultCode failure) noexcept;
  ResultCode AppendLocked(const LogRecord& record, DeferredLine* line) noexcept;

  mutable std::recursive_mutex lock_;
  AppenderOwner* const owner_;
  const WString name_;
  // Guarded by lock_.
  const Layout* layout_ = nullptr;
  Severity breakSeverity_ = kSeverityAll;
  bool escapeLineBreaks_ = false;
  bool opened_ = false;
  bool targetMoved_ = false;  // reopen before the next record
  bool collecting_ = false;   // only inside AppendBatch
  bool retired_ = false;
  bool directWrite_ = false;
  DeferredLine* deferred_ = nullptr;
  WString rendered_;   // reused from record to record
  LogRecord escaped_;  // a record whose message lost its line breaks; reused
};

}  // namespace zun
