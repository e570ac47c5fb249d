#include "base/text.h"

#include "platform/clock.h"
#include "support/test_support.h"

namespace zun {
namespace {

TEST(Text, ConversionsRoundTripAllPlanesAndStrictOnesRefuseMalformedInputKeepingOutput) {
  // ASCII runs of every length around the other planes, after earlier text.
  const WString text = u"0123456789ABCDEFGa\u00e4\u20ac\U0001F600zabcde\u00e4fghijklm\u0080";
  std::string utf8 = "pre";
  ASSERT_RC(0u, AppendUtf8FromUtf16(text, utf8));
  EXPECT_EQ(
      "pre0123456789ABCDEFGa\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80zabcde\xc3\xa4"
      "fghijklm\xc2\x80",
      utf8);
  WString back;
  ASSERT_RC(0u, AppendUtf16FromUtf8(std::string_view(utf8).substr(3), back));
  EXPECT_EQ(text, back);

  // Strict conversions refuse malformed input and keep the output as it was.
  utf8 = "kept";
  const char16_t loneHigh[] = {u'a', u'b', u'c', u'd', u'e', 0xD800, u'b'};
  EXPECT_RC(RC_INVALID_DATA, AppendUtf8FromUtf16(WStringView(loneHigh, 7), utf8));
  const char16_t loneLow[] = {0xDC00};
  EXPECT_RC(RC_INVALID_DATA, AppendUtf8FromUtf16(WStringView(loneLow, 1), utf8));
  EXPECT_EQ("kept", utf8);
  WString wide = u"kept";
  for (const char* bad : {"\xc0\xaf", "\xed\xa0\x80", "\xe2\x82", "\xf4\x90\x80\x80", "\x80"}) {
    EXPECT_RC(RC_INVALID_DATA, AppendUtf16FromUtf8(bad, wide));
  }
  EXPECT_EQ(u"kept", wide);
  EXPECT_EQ(u"a\uFFFD!", ToUtf16("a\x80!")) << "the lenient form replaces";
  AppendUtf16FromCp1252("\x80\x9f\xa0\xe4", wide);
  EXPECT_EQ(u"kept\u20ac\u0178\u00a0\u00e4", wide);

  EXPECT_TRUE(EqualsIgnoreCase(u"\u00e4rger \u0436", u"\u00c4RGER \u0416"));
  EXPECT_FALSE(EqualsIgnoreCase(u"INFO", u"INFO "));
}

TEST(Clock, CalendarConversionBothWays) {
  // 2019-03-07T12:34:56.789Z, a Thursday, is Unix time 1551962096.789;
  // sub-millisecond units drop.
  const struct {
    CalendarTime calendar;
    FileTime time;
  } cases[] = {
      {{2019, 3, 7, 12, 34, 56, 789, 4}, kFileTimeUnixEpoch + 15519620967890000ull},
      {{1601, 1, 1, 0, 0, 0, 0, 1}, 0},
      {{2000, 2, 29, 0, 0, 0, 0, 2}, kFileTimeUnixEpoch + 9517824000000000ull},
  };
  for (const auto& [calendar, time] : cases) {
    FileTime t = 1;
    ASSERT_RC(0u, CalendarToFileTime(calendar, &t));
    EXPECT_EQ(time, t) << calendar.year;
    CalendarTime back{};
    ASSERT_RC(0u, FileTimeToCalendar(t + 9999, &back));
    EXPECT_EQ(std::vector<int>({calendar.year, calendar.month, calendar.day, calendar.hour, calendar.minute,
                                calendar.second, calendar.millisecond, calendar.dayOfWeek}),
              std::vector<int>({back.year, back.month, back.day, back.hour, back.minute, back.second,
                                back.millisecond, back.dayOfWeek}));
  }
  FileTime t = 0;
  CalendarTime back{};
  for (const CalendarTime& bad :
       {CalendarTime{1600, 12, 31, 0, 0, 0, 0, 0}, CalendarTime{2020, 0, 1, 0, 0, 0, 0, 0},
        CalendarTime{2020, 1, 0, 0, 0, 0, 0, 0}}) {
    EXPECT_RC(RC_INVALID_TIME, CalendarToFileTime(bad, &t)) << bad.year << "-" << bad.month << "-" << bad.day;
  }
  EXPECT_RC(RC_INVALID_TIME, FileTimeToCalendar(0x8000000000000000ull, &back));
  EXPECT_GT(SystemTimeNow(), kFileTimeUnixEpoch + 16000000000000000ull) << "the real clock is after 2020";
}

}  // namespace
}  // namespace zun
