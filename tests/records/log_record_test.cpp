#include "records/log_record.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <new>
#include <vector>

#include "core/logger_test_support.h"
#include "platform/names.h"
#include "records/severity.h"
#include "support/test_support.h"

// Counts heap allocations made by the counting thread, so a test can state
// which allocations building and rendering a record make.
namespace {
thread_local bool tCounting = false;
thread_local long tAllocations = 0;
}  // namespace

// The replaced operator new allocates with malloc, so free is the match.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (tCounting) ++tAllocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace zun {
namespace {

// 2024-03-05 07:08:09,012 UTC.
constexpr FileTime kFixedTime = 133540960890120000ull;
FileTime FixedTime() { return kFixedTime; }
std::uint64_t FixedTicks() { return 0; }
const ClockSource kFixedClock = {&FixedTime, &FixedTicks};

class LogRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { SetClockSource(&kFixedClock); }
  void TearDown() override { SetClockSource(nullptr); }
};

const SharedText kKeyLine = std::make_shared<const WString>(u"[ZUN.LOG.SM] ALL key line");

// Builds from the caller's list; with `next`, then reads one more int from
// it: the argument placed after those the record should have consumed.
ResultCode BuildFromList(LogRecord* record, std::uint32_t flags, const LogCall* call, int* next, ...) {
  va_list args;
  va_start(args, next);
  const ResultCode rc = BuildRecord(u"app.net", flags, kKeyLine, *call, &args, record);
  if (next != nullptr) *next = va_arg(args, int);
  va_end(args);
  return rc;
}

using test::Span;
using test::Unsigned;

TEST_F(LogRecordTest, StandardLineFillsInMissingParts) {
  LogRecord record;
  record.loggerName = u"root";
  record.severity = 12345;  // no name of its own
  record.time = kFixedTime;
  record.processId = 7, record.threadId = 4000000000u;
  record.line = 1, record.buildNumber = 2, record.revision = 0xFFFFFFFFu, record.product = 0x80000000u;
  WString line = u"kept|";
  ASSERT_RC(RC_OK, FormatMessageLine(record, line));
  // Appended; no line terminator; numbers of the ID print signed.
  EXPECT_EQ(u"kept|[root] INFO 2024-03-05 07:08:09,012 " + GetCachedHostName() +
                u" PID:7 THID:4000000000 ID:MISSINGFILEID:1.2.-1.-2147483648 MSG:*",
            line);

  // The text up to the seconds is kept per second: only the milliseconds
  // may differ within one; a five-digit year is never kept.
  const struct {
    CalendarTime when;
    const char16_t* text;
  } times[] = {
      {{2024, 3, 5, 7, 8, 9, 999, 0}, u"2024-03-05 07:08:09,999"},
      {{2024, 3, 5, 7, 8, 10, 0, 0}, u"2024-03-05 07:08:10,000"},
      {{12024, 12, 31, 23, 59, 59, 5, 0}, u"12024-12-31 23:59:59,005"},
      {{2024, 3, 5, 7, 8, 10, 40, 0}, u"2024-03-05 07:08:10,040"},
  };
  for (const auto& [when, text] : times) {
    ASSERT_RC(RC_OK, CalendarToFileTime(when, &record.time));
    line.clear();
    ASSERT_RC(RC_OK, FormatMessageLine(record, line));
    EXPECT_EQ(WString(u"[root] INFO ") + text + u" ", line.substr(0, 12 + WideLength(text) + 1));
  }

  record.time = 0xFFFFFFFFFFFFFFFFull;  // beyond any calendar
  const WString before = line;
  EXPECT_RC(RC_INVALID_TIME, FormatMessageLine(record, line));
  EXPECT_EQ(before, line) << "nothing appended";
}

TEST(Severity, OnlyWholeNamesParseAndEachLevelsNameReadsBack) {
  for (const char16_t* text : {u"WARNING", u"WAR", u"WARN ", u" WARN", u"", u"INF0"})
    EXPECT_EQ(-7, SeverityFromText(text, -7)) << ToUtf8(text);
  for (Severity s : {kSeverityAll, kSeverityDebug, kSeverityDetail, kSeverityInfo, kSeverityWarn,
                     kSeverityError, kSeverityFatal, kSeverityOff})
    EXPECT_EQ(s, SeverityFromText(SeverityToText(s), 0)) << s;
}

// A zero that a format wrote or that a counted text holds ends that text.
TEST_F(LogRecordTest, AZeroEndsEveryTextOfARecord) {
  LogCall call;
  call.message = u"a%cb";
  test::ArgumentList source({Unsigned(0)});
  ZunLogRecordView view{};
  view.message = u"m\0n", view.messageLength = 3, view.fileId = u"f\0g", view.fileIdLength = 3;
  view.revisionText = u"\0r", view.revisionTextLength = 2;
  LogRecord records[3];
  ASSERT_RC(RC_OK, BuildFromList(&records[0], 0, &call, nullptr, 0));
  ASSERT_RC(RC_OK,
            BuildRecord(std::u16string_view(u"app\0x", 5), 0, kKeyLine, call, &source.face, &records[1]));
  ASSERT_RC(RC_OK, BuildRecordFromView(u"v", 0, kKeyLine, view, &records[2]));
  const std::vector<WString> expected[] = {
      {u"app.net", u"a", u"", u""}, {u"app", u"a", u"", u""}, {u"v", u"m", u"f", u""}};
  for (int i = 0; i < 3; ++i) {
    const LogRecord& r = records[i];
    EXPECT_EQ(expected[i], (std::vector<WString>{r.loggerName, r.message, r.fileId, r.revisionText})) << i;
  }
}

// 509 + 2 = 511 characters fit the first buffer, 512 do not; 9000 need two
// heap sizes. A result too long for the buffer runs the format again: the
// caller's list still moves on past what it read, and a host's typed
// arguments are not read twice.
TEST_F(LogRecordTest, LongMessagesAreStoredWholeAndNoArgumentIsReadTwice) {
  LogCall call;
  for (std::size_t length : {509u, 510u, 600u, 4094u, 9000u}) {
    const WString text(length, u'x');
    LogRecord record;
    int next = 0;
    call.message = u"<%s>";
    ASSERT_RC(RC_OK, BuildFromList(&record, 0, &call, &next, text.c_str(), 4242));
    EXPECT_EQ(u"<" + text + u">", record.message) << length;
    EXPECT_EQ(4242, next) << length;
    call.message = u"%s:%u%u%u";
    test::ArgumentList source({Span(ZUN_ARG_WIDE, text.c_str()), Unsigned(1), Unsigned(2), Unsigned(3)});
    ASSERT_RC(RC_OK, BuildRecord(u"x", 0, kKeyLine, call, &source.face, &record));
    EXPECT_EQ(text + u":123", record.message) << length;
  }
}

// Typed mode: the tagged list up to the end tag, a message text being a
// format; an empty text counts as none.
TEST_F(LogRecordTest, TypedModeRendersTheTaggedListUpToTheEndTag) {
  LogCall call;
  call.message = u"";
  LogRecord record;
  int next = 0;
  ASSERT_RC(RC_OK, BuildFromList(&record, 0x10001, &call, &next, ZUN_TAG_UINT32, 255u, ZUN_TAG_WIDE_TEXT,
                                 u"it's", ZUN_TAG_DOUBLE, 1.5, ZUN_TAG_END, 77));
  EXPECT_EQ(u"'QWORD:0x00000000000000ff', 'STR:it''s', 'DOUBLE:1.5000000000000000e+00'", record.message);
  EXPECT_EQ(77, next);
}

TEST_F(LogRecordTest, ShortLineNeedsNoAllocationBeyondTheRecordsTexts) {
  LogCall call;
  call.message = u"request served from cache in %d ms, ok";
  call.fileId = u"server/cache.cpp";
  WString line;
  line.reserve(1024);
  LogRecord warm, record;
  ASSERT_RC(RC_OK, BuildFromList(&warm, 0x10001, &call, nullptr, 17));
  ASSERT_RC(RC_OK, FormatMessageLine(warm, line));  // host name, thread id cached
  line.clear();
  tAllocations = 0;
  tCounting = true;
  const ResultCode built = BuildFromList(&record, 0x10001, &call, nullptr, 17);
  const long afterBuild = tAllocations;
  const ResultCode rendered = FormatMessageLine(record, line);
  tCounting = false;
  ASSERT_RC(RC_OK, built);
  ASSERT_RC(RC_OK, rendered);
  // The message and the file identifier are too long for the strings' own
  // storage; the logger's name "app.net" fits.
  EXPECT_EQ(2, afterBuild);
  EXPECT_EQ(afterBuild, tAllocations);
  EXPECT_NE(WString::npos, line.find(u"MSG:request served from cache in 17 ms, ok"));
}

}  // namespace
}  // namespace zun
