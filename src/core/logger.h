#pragma once
// A named logger: one node of the logger tree, reached by hosts through its
// ZunLogger and ZunDispatch tables. Every log slot builds a LogRecord on the
// calling thread and hands it to the dispatcher; the logger's threshold is
// not applied there (hosts ask IsEnabled first).
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"
#include "records/log_record.h"
#include "records/severity.h"
#include "zunlogx/zunlogx.h"

namespace zun {

class Appender;
class AppenderOwner;
class ConfigSection;
class Logger;

// Bit 16 of a logger's flags, set on every logger; bits 0-15 are the client
// masks of the clients that obtained it.
inline constexpr std::uint32_t kLoggerFlagBase = 0x10000;

// Orders child name segments by their UTF-16LE bytes (low byte of each unit
// first), the shorter first when one is a prefix of the other.
struct SegmentLess {
  using is_transparent = void;
  bool operator()(WStringView a, WStringView b) const noexcept;
};

// Thread safety: the log slots, IsEnabled and WriteToAppenders may run on any
// thread at any time. Tree changes (creating children, configuring, reset)
// are serialised by the caller with the log system lock. The threshold, the
// flags and the additive flag are atomic, so a log call may read them while
// the configuration changes them; the appender array is guarded by the
// logger's lock, taken before any appender's lock.
//
// Lifetime: owned by its LoggerTree (the root by value, every other logger
// by its parent) and destroyed with it; hosts never destroy one. Appenders
// are not owned.
class Logger {
 public:
  // A logger named `name` (copied) with flags kLoggerFlagBase, threshold
  // INFO, additive. `dispatcher` receives its records; `keyRecordLine`
  // points at the log system's key record line, which records of loggers
  // with flag bit 0 carry; both outlive the logger.
  Logger(WStringView name, Logger* parent, AppenderOwner* dispatcher, const SharedText* keyRecordLine);
  // Destroys the children first, in order.
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // The tables of this logger; the logger behind a table pointer.
  ZunLogger* Interface() noexcept { return &interface_.face; }
  ZunDispatch* DispatchInterface() noexcept { return &dispatch_.face; }
  static Logger* FromInterface(ZunLogger* face) noexcept;
  static Logger* FromDispatch(ZunDispatch* face) noexcept;

  const WString& Name() const noexcept { return name_; }
  Logger* Parent() const noexcept { return parent_; }
  Severity Threshold() const noexcept { return threshold_.load(std::memory_order_relaxed); }
  std::uint32_t Flags() const noexcept { return flags_.load(std::memory_order_relaxed); }
  bool IsAdditive() const noexcept { return additive_.load(std::memory_order_relaxed) != 0; }
  // 1 when the threshold is below `severity` (signed), so equal gives 0.
  bool IsEnabled(Severity severity) const noexcept { return Threshold() < severity; }
  // The child under one exact name segment, or null.
  Logger* FindChild(WStringView segment) const noexcept;
  // The names of the attached appenders, in order, under the logger's lock.
  ResultCode AppenderNames(std::vector<WString>* out) const;

  // Builds a record from a log call and dispatches it; returns the build's
  // or the dispatcher's code. `args` is the caller's list position (read
  // with va_arg, so it advances) or null.
  ResultCode Log(const LogCall& call, va_list* args) noexcept;
  // As above with typed arguments from a host's source (null: none).
  ResultCode Log(const LogCall& call, ZunArgumentSource* args) noexcept;
  // Every record of the source, item 0 first (last first when `reverse`),
  // stopping at the first failure, which is returned.
  ResultCode LogRecords(ZunRecordSource* source, bool reverse) noexcept;

  // Reads "Additive" and, when the logger is not additive or has no parent,
  // "Severity", then applies the threshold to the additive subtree. Only the
  // exact values "false", "no" and "0" make a logger non-additive; without
  // "Additive" a logger is additive exactly when it has a parent.
  ResultCode Configure(const ConfigSection& section) noexcept;
  // Writes "Type", then for a non-additive logger "Additive" and "Severity",
  // then "AddAppenders" (the appender names joined by ", ").
  ResultCode ExportConfiguration(ConfigSection& section) const noexcept;

 private:
  friend class LoggerTree;
  friend struct LoggerWalk;
  class RecordLease;

  template <typename Arguments>
  ResultCode BuildAndDispatch(const LogCall& call, Arguments args) noexcept;
  // True when no appender of this logger, nor of the ancestors its records
  // reach, would take a record of `severity`. Cached until the appenders'
  // route generation moves.
  bool NothingTakes(Severity severity) noexcept;

  // Each table sits next to a pointer back to its logger, so a table
  // pointer leads to the logger without layout assumptions on Logger.
  struct LoggerFace {
    ZunLogger face;
    Logger* owner;
  };
  struct DispatchFace {
    ZunDispatch face;
    Logger* owner;
  };
  using Children = std::map<WString, Logger*, SegmentLess>;

  // Records of this logger carry its name, flags and, with flag bit 0, the
  // key record line.
  const SharedText& KeyRecordLineForRecords() const noexcept;

  LoggerFace interface_;
  std::atomic<Severity> threshold_{kSeverityInfo};
  std::atomic<std::uint32_t> flags_{kLoggerFlagBase};
  DispatchFace dispatch_;
  const WString name_;
  // Guards appenders_, and children_ against walks outside the log system
  // lock (children are added under both).
  mutable std::mutex lock_;
  std::atomic<std::uint32_t> additive_{1};
  Logger* const parent_;
  Children children_;  // changed under the log system lock and lock_
  AppenderOwner* const dispatcher_;
  std::vector<Appender*> appenders_;
  const SharedText* const keyRecordLine_;
  // A record whose texts keep their room from call to call; null while a
  // call has it.
  std::atomic<LogRecord*> spareRecord_{nullptr};
  // The route generation (high half) at which the lowest severity any
  // reached appender takes (low half, signed) was computed; 0: never.
  std::atomic<std::uint64_t> lowestTaken_{0};
};

}  // namespace zun
