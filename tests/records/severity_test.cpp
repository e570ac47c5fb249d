#include "records/severity.h"

#include "support/test_support.h"

namespace zun {
namespace {

TEST(Severity, ParsesWholeNamesInAnyCase) {
  for (const char16_t* text : {u"WARN", u"warn", u"wArN"}) EXPECT_EQ(300000, SeverityFromText(text, -1));
  EXPECT_EQ(kSeverityAll, SeverityFromText(u"all", -1));
  EXPECT_EQ(kSeverityOff, SeverityFromText(u"Off", -1));
  EXPECT_EQ(kSeverityDetail, SeverityFromText(u"detail", -1));
  // Longer, shorter, padded or empty texts are no names.
  for (const char16_t* text : {u"WARNING", u"WAR", u"WARN ", u" WARN", u"", u"INF0"})
    EXPECT_EQ(-7, SeverityFromText(text, -7)) << ToUtf8(text);
}

TEST(Severity, NamesOnlyExactValues) {
  EXPECT_EQ(WString(u"INFO"), SeverityToText(250000));
  EXPECT_EQ(WString(u"INFO"), SeverityToText(-5));
  EXPECT_EQ(WString(u"ALL"), SeverityToText(INT32_MIN));
  EXPECT_EQ(WString(u"OFF"), SeverityToText(INT32_MAX));
  EXPECT_EQ(WString(u"FATAL"), SeverityToText(500000));
  // Every name parses back to its value.
  for (Severity s : {kSeverityAll, kSeverityDebug, kSeverityDetail, kSeverityInfo, kSeverityWarn,
                     kSeverityError, kSeverityFatal, kSeverityOff})
    EXPECT_EQ(s, SeverityFromText(SeverityToText(s), 0));
}

}  // namespace
}  // namespace zun
