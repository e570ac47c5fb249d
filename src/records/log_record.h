#pragma once
// The log record: what a log call becomes, and its standard message line.
#include <cstdarg>
#include <cstdint>
#include <memory>

#include "base/result_code.h"
#include "base/text.h"
#include "platform/clock.h"
#include "records/severity.h"
#include "zunlogx/zunlogx.h"

namespace zun {

// A text made once per process and attached to many records (the key record
// line): shared, never copied per record.
using SharedText = std::shared_ptr<const WString>;

// Bit 0 of a logger's flags: typed-argument messages, key record line.
inline constexpr std::uint32_t kLoggerFlagTypedMode = 0x1;

// One log event. A value: it owns copies of all its texts (the key record
// line is shared and immutable), so it can be queued and written after the
// call returned. Not synchronised; copy it to hand it to another thread.
// Its texts hold no zero: the functions that build records end every text
// at its first zero, so renderers copy them as they stand.
struct LogRecord {
  WString loggerName;
  std::uint32_t flags = 0;
  SharedText keyRecordLine;  // null unless bit 0 of flags was set
  Severity severity = 0;
  WString message;
  FileTime time = 0;
  WString fileId;
  std::uint32_t line = 0;
  std::uint32_t buildNumber = 0;
  std::uint32_t revision = 0;
  std::uint32_t product = 0;
  std::uint32_t threadId = 0;
  std::uint32_t processId = 0;
  std::uint32_t protectionMode = 0;
  WString revisionText;  // printed in place of `revision` when not empty

  // The key record line, or an empty text when the record has none.
  const WString& KeyRecordLineText() const;
};

// The caller's side of a log call. Every text may be null.
struct LogCall {
  Severity severity = 0;
  const char16_t* message = nullptr;
  const char16_t* fileId = nullptr;
  std::uint32_t line = 0;
  std::uint32_t buildNumber = 0;
  std::uint32_t revision = 0;
  const char16_t* revisionText = nullptr;
  std::uint32_t product = 0;
  std::uint32_t protectionMode = 0;
};

// Fills `out` from a log call of the logger `loggerName` whose flag word is
// `flags`; the record takes the current time, process and thread, and, when
// bit 0 of `flags` is set, `keyRecordLine`.
//
// The message is composed in this order:
// 1. bit 0 set and no message text (null or empty): the typed rendering
//    (RenderTypedArguments) of the tagged list in `args` (null: no arguments);
// 2. otherwise, with `args`: the message is a printf-style format (see
//    wide_format.h) over the caller's list, formatted into a 512-character
//    stack buffer first, then into heap buffers from 4096 characters,
//    doubling; never cut off;
// 3. otherwise the message text copied (empty when null).
// Either way the caller's list is advanced past what was read.
//
// RC_OUT_OF_MEMORY when a text cannot be copied; on any failure `out` holds
// no meaningful record and must not be dispatched.
ResultCode BuildRecord(WStringView loggerName, std::uint32_t flags, const SharedText& keyRecordLine,
                       const LogCall& call, va_list* args, LogRecord* out);

// As above with a typed argument source (null: none) in place of a list:
// 1. bit 0 set and no message text: the typed rendering of the source;
// 2. otherwise, with a source: the message is a format whose conversions
//    take the typed arguments in order (FormatWideTyped), with the same
//    buffer rule; RC_BAD_ARGUMENT_KIND for an argument of kind 0, RC_EMPTY
//    for an argument left over after the last conversion;
// 3. otherwise the message text copied.
ResultCode BuildRecord(WStringView loggerName, std::uint32_t flags, const SharedText& keyRecordLine,
                       const LogCall& call, ZunArgumentSource* args, LogRecord* out);

// Fills `out` from a record made elsewhere: the view's texts, numbers, time,
// thread and process are kept as they are (the message is not formatted).
// Every text of a record is zero-terminated text: a zero inside a counted
// text ends it, as a "%c" of 0 ends a formatted message.
ResultCode BuildRecordFromView(WStringView loggerName, std::uint32_t flags, const SharedText& keyRecordLine,
                               const ZunLogRecordView& view, LogRecord* out);

// Appends the standard message line of `record` to `out`, without a line
// terminator:
//   [logger] SEVERITY yyyy-mm-dd hh:mm:ss,mmm host PID:p THID:t ID:file:line.build.revision.product MSG:text
// with the revision text in place of the revision when it is not empty,
// "MISSINGFILEID" for an empty file identifier and "*" for an empty message.
// Line, build, revision and product print as signed 32-bit numbers. Makes no
// allocation when `out` has the room. A time that cannot be converted
// returns the conversion's code (RC_INVALID_TIME) and appends nothing.
ResultCode FormatMessageLine(const LogRecord& record, WString& out);

// What stands for a carriage return or line feed inside a text that must
// stay on its line (typed arguments, messages of appenders that escape line
// breaks): U+000B, one for each.
inline constexpr char16_t kLineBreakStandIn = u'\v';
inline bool HoldsLineBreak(WStringView text) { return text.find_first_of(u"\r\n") != WStringView::npos; }
// Replaces every carriage return and line feed of `text` in place.
void ReplaceLineBreaks(WString& text) noexcept;

// Pieces of the line that layouts print too, appended without allocating
// beyond `out`'s growth: decimal digits (at least `minDigits`, "-" first for
// a negative value), the date "yyyy-mm-dd" and the time "hh:mm:ss,mmm".
void AppendDecimal(std::int64_t value, int minDigits, WString& out);
void AppendLineDate(const CalendarTime& when, WString& out);
void AppendLineTime(const CalendarTime& when, WString& out);

}  // namespace zun
