#include "base/text.h"

#include "platform/clock.h"
#include "support/test_support.h"

namespace zun {
namespace {

TEST(Text, Utf16AndUtf8RoundTripAllPlanes) {
  // ASCII runs of every length around the other planes, after earlier text.
  const WString text = u"a\u00e4\u20ac\U0001F600zabcde\u00e4fghijklm\u0080";
  std::string utf8 = "pre";
  ASSERT_RC(0u, AppendUtf8FromUtf16(text, utf8));
  EXPECT_EQ(
      "prea\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80zabcde\xc3\xa4"
      "fghijklm\xc2\x80",
      utf8);
  WString back;
  ASSERT_RC(0u, AppendUtf16FromUtf8(std::string_view(utf8).substr(3), back));
  EXPECT_EQ(text, back);
}

TEST(Text, StrictConversionsRefuseMalformedInputAndKeepOutput) {
  std::string utf8 = "kept";
  const char16_t loneHigh[] = {u'a', u'b', u'c', u'd', u'e', 0xD800, u'b'};
  EXPECT_RC(RC_INVALID_DATA, AppendUtf8FromUtf16(WStringView(loneHigh, 7), utf8));
  const char16_t loneLow[] = {0xDC00};
  EXPECT_RC(RC_INVALID_DATA, AppendUtf8FromUtf16(WStringView(loneLow, 1), utf8));
  EXPECT_EQ("kept", utf8);

  WString wide = u"kept";
  for (std::string bad : {std::string("\xc0\xaf"), std::string("\xed\xa0\x80"), std::string("\xe2\x82"),
                          std::string("\xf4\x90\x80\x80"), std::string("\x80")}) {
    EXPECT_RC(RC_INVALID_DATA, AppendUtf16FromUtf8(bad, wide));
  }
  EXPECT_EQ(u"kept", wide);
  // The lenient form replaces what it cannot read.
  EXPECT_EQ(u"a\uFFFDb", ToUtf16("a\x80"
                                 "b"));
}

TEST(Text, Windows1252HighRange) {
  WString out;
  AppendUtf16FromCp1252("\x80\x9f\xa0\xe4", out);
  EXPECT_EQ(u"\u20ac\u0178\u00a0\u00e4", out);
}

TEST(Text, CaseInsensitiveCompareBeyondAscii) {
  EXPECT_TRUE(EqualsIgnoreCase(u"Info", u"INFO"));
  EXPECT_TRUE(EqualsIgnoreCase(u"\u00e4rger", u"\u00c4RGER"));
  EXPECT_TRUE(EqualsIgnoreCase(u"\u0436", u"\u0416"));
  EXPECT_FALSE(EqualsIgnoreCase(u"INFO", u"INFO "));
  EXPECT_FALSE(EqualsIgnoreCase(u"a", u"b"));
}

TEST(Clock, CalendarConversionBothWays) {
  CalendarTime c{2019, 3, 7, 12, 34, 56, 789, 0};
  FileTime t = 0;
  ASSERT_EQ(0u, CalendarToFileTime(c, &t));
  // 2019-03-07T12:34:56.789Z is Unix time 1551962096.789.
  EXPECT_EQ(kFileTimeUnixEpoch + 15519620967890000ull, t);
  CalendarTime back{};
  ASSERT_EQ(0u, FileTimeToCalendar(t + 9999, &back));  // sub-millisecond units drop
  EXPECT_EQ(2019, back.year);
  EXPECT_EQ(3, back.month);
  EXPECT_EQ(7, back.day);
  EXPECT_EQ(12, back.hour);
  EXPECT_EQ(34, back.minute);
  EXPECT_EQ(56, back.second);
  EXPECT_EQ(789, back.millisecond);
  EXPECT_EQ(4, back.dayOfWeek);  // a Thursday
  ASSERT_EQ(0u, FileTimeToCalendar(0, &back));
  EXPECT_EQ(1601, back.year);
  EXPECT_EQ(1, back.dayOfWeek);
  // Leap day of a century leap year.
  ASSERT_EQ(0u, CalendarToFileTime(CalendarTime{2000, 2, 29, 0, 0, 0, 0, 0}, &t));
  ASSERT_EQ(0u, FileTimeToCalendar(t, &back));
  EXPECT_EQ(2, back.month);
  EXPECT_EQ(29, back.day);
  EXPECT_EQ(RC_INVALID_TIME, CalendarToFileTime(CalendarTime{1600, 12, 31, 0, 0, 0, 0, 0}, &t));
  EXPECT_EQ(RC_INVALID_TIME, CalendarToFileTime(CalendarTime{2020, 0, 1, 0, 0, 0, 0, 0}, &t));
  EXPECT_EQ(RC_INVALID_TIME, CalendarToFileTime(CalendarTime{2020, 1, 0, 0, 0, 0, 0, 0}, &t));
  EXPECT_EQ(RC_INVALID_TIME, FileTimeToCalendar(0x8000000000000000ull, &back));
}

FileTime FixedTime() { return kFileTimeUnixEpoch + 42; }
std::uint64_t FixedTicks() { return 7; }

TEST(Clock, ReplaceableSource) {
  const FileTime real = SystemTimeNow();
  EXPECT_GT(real, kFileTimeUnixEpoch + 16000000000000000ull);  // after 2020
  const ClockSource fixed{FixedTime, FixedTicks};
  SetClockSource(&fixed);
  EXPECT_EQ(kFileTimeUnixEpoch + 42, SystemTimeNow());
  EXPECT_EQ(7u, TickCountMs());
  SetClockSource(nullptr);
  EXPECT_GE(SystemTimeNow(), real);
}

}  // namespace
}  // namespace zun
