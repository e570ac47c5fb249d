#include "config/config_value.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

using Items = std::vector<WString>;

SplitValueResult Split(WStringView text) {
  SplitValueResult result;
  EXPECT_RC(RC_OK, SplitValue(text, &result)) << ToUtf8(text);
  return result;
}

WString Quote(WStringView text) {
  WString out;
  EXPECT_RC(RC_OK, QuoteValue(text, &out));
  return out;
}

TEST(SplitValueTest, TokensInsideAndOutsideQuotes) {
  EXPECT_EQ(u"hello", Split(u"  hello\t ").value);
  EXPECT_EQ(uR"(C:\My Logs\x.log)", Split(uR"( "C:\My Logs\x.log")").value);
  EXPECT_EQ(uR"(C:\logs\a.log)", Split(uR"(C:\logs\a.log)").value);
  EXPECT_EQ(u"", Split(uR"("")").value);
  EXPECT_EQ(u"pre fix", Split(uR"(pre" fix")").value);
  EXPECT_EQ(uR"(say "hi" now)", Split(uR"("say \"hi\" now")").value);
  EXPECT_EQ(uR"(a"b)", Split(uR"("a\\"b")").value);
  EXPECT_EQ(uR"(\abc)", Split(uR"(\"abc")").value);
  EXPECT_EQ(KeyKind::kSingle, Split(u" \t ").kind);

  SplitValueResult r = Split(uR"("x y" z)");
  ASSERT_EQ(KeyKind::kList, r.kind);
  EXPECT_EQ((Items{u"x y", u"z"}), r.items);
  EXPECT_EQ(uR"("x y" z)", r.value);
  r = Split(u"a\tb");
  EXPECT_EQ((Items{u"a", u"b"}), r.items);
  EXPECT_EQ(u"a b", r.value);
  // A comma does not separate but makes the item need quotes.
  r = Split(u"console, toolLog");
  EXPECT_EQ((Items{u"console,", u"toolLog"}), r.items);
  EXPECT_EQ(uR"("console," toolLog)", r.value);
  EXPECT_EQ((Items{u"a", u""}), Split(uR"(a "")").items);
}

TEST(SplitValueTest, SemicolonOutsideQuotesStartsTheInlineComment) {
  SplitValueResult r = Split(u"1 ; note");
  EXPECT_EQ(u"1", r.value);
  EXPECT_EQ(u" note", r.inlineComment);
  r = Split(uR"("a;b";c ; d)");
  EXPECT_EQ(u"a;b", r.value);
  EXPECT_EQ(u"c ; d", r.inlineComment);
  r = Split(uR"(v ;"unbalanced)");
  EXPECT_EQ(u"v", r.value);
  EXPECT_EQ(uR"("unbalanced)", r.inlineComment);
}

TEST(SplitValueTest, BrokenQuotingFailsWithoutTouchingTheResult) {
  for (const WStringView bad : {WStringView(uR"("x"y)"), WStringView(uR"("x)"), WStringView(uR"("x"")"),
                                WStringView(uR"("abc\")"), WStringView(uR"(a "b c)")}) {
    SplitValueResult r;
    r.value = u"untouched";
    EXPECT_RC(RC_TEXT_ERROR_19, SplitValue(bad, &r)) << ToUtf8(bad);
    EXPECT_EQ(u"untouched", r.value);
  }
}

TEST(QuoteValueTest, QuotesOnlyWhatWouldNotReadBackAsOneToken) {
  EXPECT_EQ(u"plain", Quote(u"plain"));
  EXPECT_EQ(u"", Quote(u""));
  EXPECT_EQ(u"\"a b\"", Quote(u"a b"));
  EXPECT_EQ(u"\"a,b\"", Quote(u"a,b"));
  EXPECT_EQ(u"\"a;b\"", Quote(u"a;b"));
  EXPECT_EQ(uR"("C:\x")", Quote(uR"(C:\x)"));
  EXPECT_EQ(uR"("say \"hi\"")", Quote(uR"(say "hi")"));

  for (const WStringView text : {WStringView(u"two words"), WStringView(uR"(C:\Program Files\a.log)"),
                                 WStringView(uR"(he said "no"; then left)"), WStringView(u"\t padded \t")}) {
    const SplitValueResult r = Split(Quote(text));
    EXPECT_EQ(KeyKind::kSingle, r.kind) << ToUtf8(text);
    EXPECT_EQ(text, r.value);
  }
}

}  // namespace
}  // namespace zun
