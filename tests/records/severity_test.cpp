#include "records/severity.h"

#include "support/test_support.h"

namespace zun {
namespace {

TEST(Severity, WholeNamesInAnyCaseParseAndOnlyExactValuesHaveNames) {
  for (const char16_t* text : {u"WARN", u"warn", u"wArN"}) EXPECT_EQ(300000, SeverityFromText(text, -1));
  for (const char16_t* text : {u"WARNING", u"WAR", u"WARN ", u" WARN", u"", u"INF0"})
    EXPECT_EQ(-7, SeverityFromText(text, -7)) << ToUtf8(text);
  for (const auto& [value, name] : {std::pair{250000, u"INFO"}, {-5, u"INFO"}, {500000, u"FATAL"}})
    EXPECT_EQ(WString(name), SeverityToText(value)) << value;
  for (Severity s : {kSeverityAll, kSeverityDebug, kSeverityDetail, kSeverityInfo, kSeverityWarn,
                     kSeverityError, kSeverityFatal, kSeverityOff})
    EXPECT_EQ(s, SeverityFromText(SeverityToText(s), 0)) << s;
}

}  // namespace
}  // namespace zun
