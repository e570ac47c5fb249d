#include "config/config_value.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

SplitValueResult Split(WStringView text) {
  SplitValueResult result;
  const ResultCode rc = SplitValue(text, &result);
  EXPECT_RC(RC_OK, rc) << ToUtf8(text);
  return result;
}

WString Quote(WStringView text) {
  WString out;
  EXPECT_RC(RC_OK, QuoteValue(text, &out));
  return out;
}

TEST(SplitValueTest, SingleTokensLoseTheirQuotesAndSurroundingBlanks) {
  SplitValueResult r = Split(u"  hello\t ");
  EXPECT_EQ(KeyKind::kSingle, r.kind);
  EXPECT_EQ(u"hello", r.value);
  EXPECT_TRUE(r.items.empty());
  EXPECT_TRUE(r.inlineComment.empty());

  r = Split(uR"( "C:\My Logs\x.log")");
  EXPECT_EQ(KeyKind::kSingle, r.kind);
  EXPECT_EQ(uR"(C:\My Logs\x.log)", r.value);

  // A backslash outside quotes is an ordinary character.
  EXPECT_EQ(uR"(C:\logs\a.log)", Split(uR"(C:\logs\a.log)").value);

  r = Split(uR"("")");
  EXPECT_EQ(KeyKind::kSingle, r.kind);
  EXPECT_EQ(u"", r.value);

  r = Split(u" \t ");
  EXPECT_EQ(KeyKind::kSingle, r.kind);
  EXPECT_EQ(u"", r.value);
}

TEST(SplitValueTest, SeveralTokensMakeAListWhoseValueTextQuotesEachItem) {
  SplitValueResult r = Split(u"x y");
  ASSERT_EQ(KeyKind::kList, r.kind);
  EXPECT_EQ((std::vector<WString>{u"x", u"y"}), r.items);
  EXPECT_EQ(u"x y", r.value);

  r = Split(uR"("x y" z)");
  ASSERT_EQ(KeyKind::kList, r.kind);
  EXPECT_EQ((std::vector<WString>{u"x y", u"z"}), r.items);
  EXPECT_EQ(uR"("x y" z)", r.value);

  r = Split(u"a\tb");
  EXPECT_EQ((std::vector<WString>{u"a", u"b"}), r.items);
  EXPECT_EQ(u"a b", r.value);

  // A comma does not separate, but makes the item need quotes.
  r = Split(u"console, toolLog");
  EXPECT_EQ((std::vector<WString>{u"console,", u"toolLog"}), r.items);
  EXPECT_EQ(uR"("console," toolLog)", r.value);

  // An empty quoted token counts as an item.
  r = Split(uR"(a "")");
  EXPECT_EQ((std::vector<WString>{u"a", u""}), r.items);
  EXPECT_EQ(u"a ", r.value);
}

TEST(SplitValueTest, SemicolonOutsideQuotesStartsTheInlineComment) {
  SplitValueResult r = Split(u"1 ; note");
  EXPECT_EQ(u"1", r.value);
  EXPECT_EQ(u" note", r.inlineComment);

  r = Split(uR"("a;b";c ; d)");
  EXPECT_EQ(KeyKind::kSingle, r.kind);
  EXPECT_EQ(u"a;b", r.value);
  EXPECT_EQ(u"c ; d", r.inlineComment);

  r = Split(u";only a comment");
  EXPECT_EQ(u"", r.value);
  EXPECT_EQ(u"only a comment", r.inlineComment);

  // What follows the ";" is not checked for quoting.
  r = Split(uR"(v ;"unbalanced)");
  EXPECT_EQ(u"v", r.value);
  EXPECT_EQ(uR"("unbalanced)", r.inlineComment);
}

TEST(SplitValueTest, EscapedQuotesInsideQuotesBecomeQuotes) {
  EXPECT_EQ(uR"(say "hi" now)", Split(uR"("say \"hi\" now")").value);
  // An escaped backslash before an escaped quote still yields one quote.
  EXPECT_EQ(uR"(a"b)", Split(uR"("a\\"b")").value);
  // Outside quotes the backslash stays and the quote opens quoting.
  EXPECT_EQ(uR"(\abc)", Split(uR"(\"abc")").value);
  // Text glued before an opening quote stays in the same token.
  EXPECT_EQ(u"pre fix", Split(uR"(pre" fix")").value);
}

TEST(SplitValueTest, BrokenQuotingFailsWithoutTouchingTheResult) {
  for (const WStringView bad : {WStringView(uR"("x"y)"), WStringView(uR"("x)"), WStringView(uR"("x"")"),
                                WStringView(uR"("abc\")"), WStringView(uR"(a "b c)")}) {
    SplitValueResult r;
    r.value = u"untouched";
    EXPECT_RC(RC_TEXT_ERROR_19, SplitValue(bad, &r)) << ToUtf8(bad);
    EXPECT_EQ(u"untouched", r.value);
  }
  // A closing quote followed by a blank or a comment is fine.
  EXPECT_EQ(u"x", Split(uR"("x";c)").value);
  EXPECT_EQ(KeyKind::kList, Split(uR"("x" y)").kind);
}

TEST(QuoteValueTest, QuotesOnlyWhatWouldNotReadBackAsOneToken) {
  EXPECT_EQ(u"plain", Quote(u"plain"));
  EXPECT_EQ(u"", Quote(u""));
  EXPECT_EQ(u"\"a b\"", Quote(u"a b"));
  EXPECT_EQ(u"\"a\tb\"", Quote(u"a\tb"));
  EXPECT_EQ(u"\"a,b\"", Quote(u"a,b"));
  EXPECT_EQ(u"\"a;b\"", Quote(u"a;b"));
  EXPECT_EQ(uR"("C:\x")", Quote(uR"(C:\x)"));
  EXPECT_EQ(uR"("say \"hi\"")", Quote(uR"(say "hi")"));
  EXPECT_EQ(uR"("\"")", Quote(uR"(")"));
}

TEST(QuoteValueTest, QuotedTextSplitsBackToTheSameSingleValue) {
  for (const WStringView text :
       {WStringView(u"Info"), WStringView(u"two words"), WStringView(uR"(C:\Program Files\a.log)"),
        WStringView(uR"(he said "no"; then left)"), WStringView(u"%date %time [%severity] %msg"),
        WStringView(u"\t leading and trailing \t"), WStringView(u"a,b;c"), WStringView(u"\u0416\u0443 x")}) {
    const SplitValueResult r = Split(Quote(text));
    EXPECT_EQ(KeyKind::kSingle, r.kind) << ToUtf8(text);
    EXPECT_EQ(text, r.value);
    EXPECT_TRUE(r.inlineComment.empty());
  }
}

TEST(TrimTest, TrimsExactlyTheFiveBlankCharacters) {
  EXPECT_EQ(u"a b", TrimBlanks(u" \t\r\n\va b\v\n\r\t "));
  EXPECT_EQ(u"a \t", TrimBlanksLeft(u"\v\ta \t"));
  // Form feed and no-break space are not blanks here.
  EXPECT_EQ(u"\fa\u00A0", TrimBlanks(u" \fa\u00A0 "));
  EXPECT_EQ(u"", TrimBlanks(u" \t "));
}

}  // namespace
}  // namespace zun
