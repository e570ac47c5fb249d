#include "config/config_document.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "config/config_number.h"
#include "config/config_reader.h"
#include "config/config_value.h"
#include "support/test_support.h"

namespace zun {
namespace {

using Items = std::vector<WString>;

TEST(ConfigDocumentTest, SectionsEnumerateByBytesAndDuplicatesAreRefused) {
  ConfigDocument document;
  // U+0141 is 41 01 on disk and U+0240 is 40 02: by bytes U+0240 comes
  // first although its code unit is larger.
  for (const char16_t* name : {u"b", u"ab", u"\u0141", u"a", u"B", u"\u0240"}) {
    ASSERT_RC(RC_OK, document.CreateSection(name));
  }
  Items names;
  ConfigSectionEnumerator e = document.EnumerateSections();
  ConfigSectionRef s;
  for (; e.Current(&s) == RC_OK; e.Next()) names.push_back(s->Name());
  EXPECT_EQ((Items{u"\u0240", u"\u0141", u"B", u"a", u"ab", u"b"}), names);
  EXPECT_RC(RC_NO_MORE_ITEMS, e.Current(&s));

  ConfigSectionRef other;
  ASSERT_RC(RC_OK, ConfigSection::Create(u"a", &other));
  EXPECT_RC(RC_TABLE_ERROR_37, document.AddSection(other));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, document.FindSection(u"A ", &s));
  ASSERT_RC(RC_OK, document.FindSection(u"a", &s));
  ConfigKeyRef key, twin;
  ASSERT_RC(RC_OK, ConfigKey::Create(u"Severity", &key));
  ASSERT_RC(RC_OK, ConfigKey::Create(u"Severity", &twin));
  ASSERT_RC(RC_OK, s->AddKey(key));
  EXPECT_RC(RC_TABLE_ERROR_36, s->AddKey(twin));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, s->FindKey(u"SEVERITY", &key));
}

TEST(ConfigSectionTest, SetValueQuotesAndTypedReadsTellAbsentFromEmpty) {
  ConfigDocument document;
  MemoryLineSource source(
      u"[s]\nEmpty =\nOne = \"a b\"\n; who gets it\nMany = x \"y z\"\nSize = 0x1000 bytes\n");
  ASSERT_RC(RC_OK, ParseDocument(document, source));
  const ConfigSectionRef section = document.Sections().at(u"s");

  const std::tuple<const char16_t*, ResultCode, Items> lists[] = {
      {u"Missing", RC_ITEM_NOT_PRESENT, {u"kept"}},
      {u"Empty", RC_OK, {}},
      {u"One", RC_OK, {u"a b"}},
      {u"Many", RC_OK, {u"x", u"y z"}}};
  for (const auto& [name, rc, expected] : lists) {
    Items items{u"kept"};
    EXPECT_RC(rc, section->GetList(name, &items));
    EXPECT_EQ(expected, items) << ToUtf8(name);
  }
  std::uint64_t size = 1;
  EXPECT_RC(RC_OK, GetNumber64(*section, u"Size", &size));
  EXPECT_EQ(4096u, size);

  // Over an existing list key: the comment stays, the list goes.
  ASSERT_RC(RC_OK, section->SetValue(u"Many", u"single one"));
  const ConfigKeyRef& many = section->Keys().at(u"Many");
  EXPECT_EQ(std::tuple(WString(u"\"single one\""), KeyKind::kSingle, Items{}, WString(u" who gets it")),
            std::tuple(many->Value(), many->Kind(), many->Items(), many->Comment()));
}

TEST(ConfigNumber, LeadingDigitsOfTheBaseCountUntilTheValueWouldPassSixtyFourBits) {
  const struct {
    WStringView text;
    ResultCode rc;
    std::uint64_t value;
  } kCases[] = {
      {u"0100 entries", RC_OK, 100},
      {u"0XfFz", RC_OK, 255},
      {u"0x", RC_OK, 0},  // too short for the prefix: the "0" is read in base 10
      {u"18446744073709551615", RC_OK, UINT64_MAX},
      {u"18446744073709551616", RC_OK, 1844674407370955161ull},
      {u"-1", RC_INVALID_PARAMETER, 7},
      {u" 5", RC_OK, 0},
  };
  for (const auto& c : kCases) {
    std::uint64_t value = 7;
    EXPECT_RC(c.rc, ParseNumber64(c.text, &value)) << ToUtf8(c.text);
    EXPECT_EQ(c.value, value) << ToUtf8(c.text);
  }
  std::uint32_t low = 0;
  ASSERT_RC(RC_OK, ParseNumber32(u"0x100000005", &low));
  EXPECT_EQ(5u, low);
}

TEST(SplitValueTest, TokensQuotesAndInlineComments) {
  struct Case {
    WStringView text, value;
    Items items;  // empty for a single value
    WStringView inlineComment;
  };
  const Case cases[] = {
      {uR"(C:\logs\a.log)", uR"(C:\logs\a.log)", {}, u""},
      {uR"(pre" fix")", u"pre fix", {}, u""},
      {uR"("say \"hi\" now")", uR"(say "hi" now)", {}, u""},
      {uR"("a\\"b")", uR"(a"b)", {}, u""},
      {u"a\tb", u"a b", {u"a", u"b"}, u""},
      // A comma does not separate but makes the item need quotes.
      {u"x, y", uR"("x," y)", {u"x,", u"y"}, u""},
      {uR"(a "")", uR"(a "")", {u"a", u""}, u""},
      {uR"("a;b";c ; d)", u"a;b", {}, u"c ; d"},
  };
  for (const Case& c : cases) {
    SplitValueResult r;
    ASSERT_RC(RC_OK, SplitValue(c.text, &r)) << ToUtf8(c.text);
    const KeyKind kind = c.items.empty() ? KeyKind::kSingle : KeyKind::kList;
    EXPECT_EQ(std::tie(c.value, kind, c.items, c.inlineComment),
              std::tie(r.value, r.kind, r.items, r.inlineComment))
        << ToUtf8(c.text);
  }

  for (const WStringView bad :
       {WStringView(uR"("x"y)"), WStringView(uR"("abc\")"), WStringView(uR"(a "b c)")}) {
    SplitValueResult r;
    r.value = u"untouched";
    EXPECT_RC(RC_TEXT_ERROR_19, SplitValue(bad, &r)) << ToUtf8(bad);
    EXPECT_EQ(u"untouched", r.value);
  }
}

TEST(QuoteValueTest, QuotesOnlyWhatWouldNotReadBackAsOneToken) {
  const std::tuple<WStringView, ResultCode, WStringView> cases[] = {
      {u"plain", RC_OK, u"plain"},
      {u"a,b", RC_OK, u"\"a,b\""},
      {u"\t padded ", RC_OK, u"\"\t padded \""},
      {uR"(he said "no"; then left)", RC_OK, uR"("he said \"no\"; then left")"},
      // A backslash run before a quote needs two more backslashes.
      {uR"(\"a\\" b)", RC_OK, uR"("\\\"a\\\\" b")"},
      // Quotes would make a final backslash escape the closing quote.
      {uR"(a,b\)", RC_OK, uR"(a,b\)"},
      {uR"(C:\My Logs\)", RC_INVALID_DATA, u"untouched"},
  };
  for (const auto& [text, rc, quoted] : cases) {
    WString out = u"untouched";
    EXPECT_RC(rc, QuoteValue(text, &out)) << ToUtf8(text);
    EXPECT_EQ(quoted, out);
  }
}

}  // namespace
}  // namespace zun
