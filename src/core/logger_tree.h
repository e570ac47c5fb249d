#pragma once
// The tree of loggers by dotted name ("a.b" is a child of "a") under the root
// logger "root", and the operations that walk it.
//
// Names: null, empty, or "root" in any ASCII letter case mean the root.
// Segments are separated by "." and compared exactly; empty segments (two
// dots in a row, a leading or trailing dot) are skipped, so "a..b" and "a.b"
// name the same logger, whose name is "a.b".
#include <cstddef>
#include <cstdint>

#include "base/result_code.h"
#include "base/text.h"
#include "core/logger.h"
#include "records/log_record.h"
#include "records/severity.h"

namespace zun {

class Appender;
class AppenderOwner;

// Thread safety: creating, finding, configuring, resetting and flushing are
// serialised by the caller with the log system lock. WriteToAppenders and
// CheckTargets run on any thread at any time; they take each logger's lock
// in turn, never two at once. The tree owns every logger; they live until
// the tree is destroyed.
class LoggerTree {
 public:
  // A tree holding only the root: named "root", flags kLoggerFlagBase,
  // threshold INFO. `dispatcher` (not owned) receives every record of every
  // logger of the tree and outlives it.
  explicit LoggerTree(AppenderOwner* dispatcher);
  LoggerTree(const LoggerTree&) = delete;
  LoggerTree& operator=(const LoggerTree&) = delete;

  Logger& Root() noexcept { return root_; }
  AppenderOwner* Dispatcher() const noexcept { return dispatcher_; }

  // The key record line that records of loggers with flag bit 0 carry. Set
  // while the log system starts, before any record is built.
  void SetKeyRecordLine(SharedText line) noexcept { keyRecordLine_ = std::move(line); }

  static bool IsRootName(WStringView name) noexcept;

  // Walks down from `start` along `name` and returns the deepest existing
  // logger on the path; `*position` is where the walk stopped: the start of
  // the first segment without a logger, or the length of the name when the
  // whole name resolved (0 for a root name, which resolves to `start`).
  static Logger* FindDeepest(Logger* start, WStringView name, std::size_t* position) noexcept;

  // The logger of exactly that name, or null when any segment is missing.
  Logger* Find(WStringView name) noexcept;

  // The logger of that name, creating the missing ones; each new logger
  // starts with its parent's threshold. `clientMask` is ORed into the
  // logger's flags. A segment holding a blank (U+0020) that would have to be
  // created gives RC_INVALID_LOGGER_NAME; loggers created before it stay.
  // RC_OUT_OF_MEMORY likewise.
  ResultCode GetOrCreate(Logger** out, std::uint32_t clientMask, WStringView name) noexcept;

  // Stores the threshold and hands it down to every additive child; a
  // non-additive child and its subtree keep theirs.
  static void SetThreshold(Logger* logger, Severity threshold) noexcept;

  // The synchronous write: each appender of the logger in order under the
  // logger's lock. When one fails, the others still get the record and the
  // first failure is returned as a warning code (0xE001xxxx -> 0xA001xxxx);
  // the parent is then not written. Otherwise, for an additive logger, the
  // parent's appenders follow, up to the root.
  static ResultCode WriteToAppenders(Logger* logger, const LogRecord& record) noexcept;

  // Flushes (closes) every appender of the subtree, each logger's appenders
  // in order until the first failure of that logger; every logger of the
  // subtree is visited. Returns the first failure.
  static ResultCode FlushTree(Logger* logger) noexcept;

  // Housekeeping: has every appender of the tree that `logger` belongs to
  // check that its target is still in place (Appender::CheckTarget). Runs on
  // any thread beside log calls and tree changes; takes each logger's lock
  // in turn, never two at once.
  static void CheckTargets(Logger* logger) noexcept;

  // Back to the unconfigured state: each logger of the subtree takes its
  // parent's threshold (INFO for the root), becomes additive and loses its
  // appenders.
  static void ResetTree(Logger* logger) noexcept;

  // The appender array: add at the end (not owned; it must stay alive while
  // attached), or empty it. Both take the logger's lock.
  static ResultCode AddAppender(Logger* logger, Appender* appender) noexcept;
  static void ClearAppenders(Logger* logger) noexcept;

 private:
  SharedText keyRecordLine_;
  AppenderOwner* const dispatcher_;
  Logger root_;  // last: it points at the two members above
};

}  // namespace zun
