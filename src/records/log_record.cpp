#include "records/log_record.h"

#include <array>
#include <new>

#include "base/lasting.h"

#include "platform/file_calls.h"
#include "platform/names.h"
#include "platform/process_info.h"
#include "records/typed_arguments.h"
#include "records/wide_format.h"

namespace zun {

const WString& LogRecord::KeyRecordLineText() const {
  static Lasting<const WString> none;
  return keyRecordLine ? *keyRecordLine : *none;
}

namespace {

// Short messages format on the stack; only longer ones touch the heap.
constexpr std::size_t kStackBufferChars = 512;
constexpr std::size_t kFirstHeapBufferChars = 4096;

bool HasMessageText(const char16_t* message) { return message != nullptr && message[0] != 0; }

// Everything but the message. May throw std::bad_alloc.
void FillFromCall(WStringView loggerName, std::uint32_t flags, const SharedText& keyRecordLine,
                  const LogCall& call, LogRecord* out) {
  out->loggerName.assign(UpToZero(loggerName));
  out->flags = flags;
  if (flags & kLoggerFlagTypedMode) {
    out->keyRecordLine = keyRecordLine;
  } else {
    out->keyRecordLine.reset();
  }
  out->severity = call.severity;
  out->time = SystemTimeNow();
  out->fileId.assign(ViewOf(call.fileId));
  out->line = call.line;
  out->buildNumber = call.buildNumber;
  out->revision = call.revision;
  out->product = call.product;
  out->threadId = CurrentThreadId();
  out->processId = CurrentProcessId();
  out->protectionMode = call.protectionMode;
  out->revisionText.assign(ViewOf(call.revisionText));
}

// Runs `attempt(buffer, capacity, &size)` on a 512-character stack buffer,
// then, while it reports RC_INSUFFICIENT_BUFFER, on heap buffers of 4096
// characters doubling (sizes the formatter already said are too small are
// skipped). The heap buffer is the message itself, so the text is not copied
// again. May throw std::bad_alloc.
template <typename Attempt>
ResultCode FormatIntoMessage(Attempt&& attempt, WString& message) {
  char16_t stack[kStackBufferChars];
  std::size_t size = 0;
  ResultCode rc = attempt(stack, kStackBufferChars - 1, &size);
  if (Succeeded(rc)) {
    message.assign(stack, size - 1);
    return rc;
  }
  std::size_t chars = kFirstHeapBufferChars;
  while (rc == RC_INSUFFICIENT_BUFFER) {
    while (chars < size) chars *= 2;
    // A string keeps room for its terminating zero past size().
    message.resize(chars - 1);
    rc = attempt(message.data(), chars - 1, &size);
    chars *= 2;
  }
  if (Failed(rc)) return rc;
  message.resize(size - 1);
  return rc;
}

ResultCode ComposeFromList(const LogCall& call, std::uint32_t flags, va_list* args, WString& message) {
  message.clear();
  if ((flags & kLoggerFlagTypedMode) && !HasMessageText(call.message)) {
    TaggedListSource source(args);
    return RenderTypedArguments(source.Source(), message);
  }
  if (args == nullptr) {
    message.assign(ViewOf(call.message));
    return RC_OK;
  }
  // Every attempt reads from a copy; the caller's list moves on only with
  // the attempt that succeeded.
  auto attempt = [&](char16_t* buffer, std::size_t capacity, std::size_t* size) {
    va_list copy;
    va_copy(copy, *args);
    const ResultCode rc = FormatWide(buffer, capacity, call.message, &copy, size);
    if (Succeeded(rc)) {
      va_end(*args);
      va_copy(*args, copy);
    }
    va_end(copy);
    return rc;
  };
  return FormatIntoMessage(attempt, message);
}

ResultCode ComposeFromSource(const LogCall& call, std::uint32_t flags, ZunArgumentSource* args,
                             WString& message) {
  message.clear();
  if ((flags & kLoggerFlagTypedMode) && !HasMessageText(call.message)) {
    return RenderTypedArguments(args, message);
  }
  if (args == nullptr) {
    message.assign(ViewOf(call.message));
    return RC_OK;
  }
  // A host's source can be read only once; keep its arguments so a larger
  // buffer can run the format again.
  TypedArguments arguments;
  if (ResultCode rc = ReadSourceArguments(args, &arguments); Failed(rc)) return rc;
  TypedArgumentCursor cursor(arguments);
  auto attempt = [&](char16_t* buffer, std::size_t capacity, std::size_t* size) {
    cursor.Rewind();
    return FormatWideTyped(buffer, capacity, call.message, cursor.Source(), size);
  };
  return FormatIntoMessage(attempt, message);
}

// A view's texts are zero-terminated texts too: a zero inside the count ends
// them.
WStringView ViewOfCounted(const char16_t* text, std::uint32_t length) {
  if (text == nullptr) return {};
  return length == UINT32_MAX ? WStringView(text, WideLength(text)) : UpToZero(WStringView(text, length));
}

// The line's numbers are 32-bit values printed as signed.
void AppendSigned32(std::uint32_t value, WString& out) {
  AppendDecimal(static_cast<std::int32_t>(value), 1, out);
}

}  // namespace

ResultCode BuildRecord(WStringView loggerName, std::uint32_t flags, const SharedText& keyRecordLine,
                       const LogCall& call, va_list* args, LogRecord* out) {
  if (const ResultCode rc = ReserveRecordMemory(sizeof(LogRecord)); Failed(rc)) return rc;
  try {
    FillFromCall(loggerName, flags, keyRecordLine, call, out);
    return ComposeFromList(call, flags, args, out->message);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode BuildRecord(WStringView loggerName, std::uint32_t flags, const SharedText& keyRecordLine,
                       const LogCall& call, ZunArgumentSource* args, LogRecord* out) {
  if (const ResultCode rc = ReserveRecordMemory(sizeof(LogRecord)); Failed(rc)) return rc;
  try {
    FillFromCall(loggerName, flags, keyRecordLine, call, out);
    return ComposeFromSource(call, flags, args, out->message);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode BuildRecordFromView(WStringView loggerName, std::uint32_t flags, const SharedText& keyRecordLine,
                               const ZunLogRecordView& view, LogRecord* out) {
  if (const ResultCode rc = ReserveRecordMemory(sizeof(LogRecord)); Failed(rc)) return rc;
  try {
    out->loggerName.assign(UpToZero(loggerName));
    out->flags = flags;
    if (flags & kLoggerFlagTypedMode) {
      out->keyRecordLine = keyRecordLine;
    } else {
      out->keyRecordLine.reset();
    }
    out->severity = view.severity;
    out->message.assign(ViewOfCounted(view.message, view.messageLength));
    out->time = (static_cast<FileTime>(view.timeHigh) << 32) | view.timeLow;
    out->fileId.assign(ViewOfCounted(view.fileId, view.fileIdLength));
    out->line = view.line;
    out->buildNumber = view.buildNumber;
    out->revision = view.revision;
    out->product = view.product;
    out->threadId = view.threadId;
    out->processId = view.processId;
    out->protectionMode = view.protectionMode;
    out->revisionText.assign(ViewOfCounted(view.revisionText, view.revisionTextLength));
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

void ReplaceLineBreaks(WString& text) noexcept {
  for (char16_t& c : text) {
    if (c == u'\r' || c == u'\n') c = kLineBreakStandIn;
  }
}

namespace {

// "00" to "99", two characters a number.
constexpr auto kTwoDigits = [] {
  std::array<char16_t, 200> digits{};
  for (int i = 0; i < 100; ++i) {
    digits[2 * i] = static_cast<char16_t>(u'0' + i / 10);
    digits[2 * i + 1] = static_cast<char16_t>(u'0' + i % 10);
  }
  return digits;
}();

// Writes the digits of `value`, at least `minDigits` of them, ending at
// `end`; returns where they start.
char16_t* PutDigits(std::uint64_t value, int minDigits, char16_t* end) {
  char16_t* at = end;
  while (value >= 100) {
    const auto pair = static_cast<std::size_t>(value % 100) * 2;
    value /= 100;
    *--at = kTwoDigits[pair + 1];
    *--at = kTwoDigits[pair];
  }
  if (value >= 10) {
    const auto pair = static_cast<std::size_t>(value) * 2;
    *--at = kTwoDigits[pair + 1];
    *--at = kTwoDigits[pair];
  } else {
    *--at = static_cast<char16_t>(u'0' + value);
  }
  while (end - at < minDigits) *--at = u'0';
  return at;
}

// The date and time text of a line up to its seconds ("2025-01-01
// 12:00:00"), kept per thread for the second it was made for: lines of the
// same second only add their milliseconds.
struct SecondText {
  FileTime second = ~FileTime{0};
  char16_t text[19];
};

}  // namespace

void AppendDecimal(std::int64_t value, int minDigits, WString& out) {
  char16_t digits[24];
  char16_t* const end = digits + sizeof digits / sizeof *digits;
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char16_t* at = PutDigits(magnitude, minDigits, end);
  if (value < 0) *--at = u'-';
  out.append(at, static_cast<std::size_t>(end - at));
}

void AppendLineDate(const CalendarTime& when, WString& out) {
  AppendDecimal(when.year, 4, out);
  out.push_back(u'-');
  AppendDecimal(when.month, 2, out);
  out.push_back(u'-');
  AppendDecimal(when.day, 2, out);
}

void AppendLineTime(const CalendarTime& when, WString& out) {
  AppendDecimal(when.hour, 2, out);
  out.push_back(u':');
  AppendDecimal(when.minute, 2, out);
  out.push_back(u':');
  AppendDecimal(when.second, 2, out);
  out.push_back(u',');
  AppendDecimal(when.millisecond, 3, out);
}

ResultCode FormatMessageLine(const LogRecord& record, WString& out) {
  constexpr FileTime kPerSecond = 10000000;
  thread_local SecondText made;
  const FileTime second = record.time / kPerSecond;
  CalendarTime when{};
  if (second != made.second) {
    if (ResultCode rc = FileTimeToCalendar(record.time, &when); Failed(rc)) return rc;
  }
  // Years past 9999 take a fifth digit and are not kept.
  if (second != made.second && when.year <= 9999) {
    char16_t* at = made.text;
    auto put = [&at](int value, int digits, char16_t after) {
      char16_t* const end = at + digits;
      PutDigits(static_cast<std::uint64_t>(value), digits, end);
      at = end;
      if (after != 0) *at++ = after;
    };
    put(when.year, 4, u'-');
    put(when.month, 2, u'-');
    put(when.day, 2, u' ');
    put(when.hour, 2, u':');
    put(when.minute, 2, u':');
    put(when.second, 2, 0);
    made.second = second;
  }
  const std::size_t start = out.size();
  try {
    out.push_back(u'[');
    out.append(record.loggerName);
    out.append(u"] ");
    out.append(SeverityToText(record.severity));
    out.push_back(u' ');
    if (second == made.second) {
      out.append(made.text, sizeof made.text / sizeof *made.text);
      out.push_back(u',');
      char16_t millis[3];
      PutDigits(record.time / 10000 % 1000, 3, millis + 3);
      out.append(millis, 3);
    } else {
      AppendLineDate(when, out);
      out.push_back(u' ');
      AppendLineTime(when, out);
    }
    out.push_back(u' ');
    out.append(GetCachedHostName());
    out.append(u" PID:");
    AppendDecimal(record.processId, 1, out);
    out.append(u" THID:");
    AppendDecimal(record.threadId, 1, out);
    out.append(u" ID:");
    if (record.fileId.empty()) {
      out.append(u"MISSINGFILEID");
    } else {
      out.append(record.fileId);
    }
    out.push_back(u':');
    AppendSigned32(record.line, out);
    out.push_back(u'.');
    AppendSigned32(record.buildNumber, out);
    out.push_back(u'.');
    if (record.revisionText.empty()) {
      AppendSigned32(record.revision, out);
    } else {
      out.append(record.revisionText);
    }
    out.push_back(u'.');
    AppendSigned32(record.product, out);
    out.append(u" MSG:");
    if (record.message.empty()) {
      out.push_back(u'*');
    } else {
      out.append(record.message);
    }
    return RC_OK;
  } catch (const std::bad_alloc&) {
    out.resize(start);
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
