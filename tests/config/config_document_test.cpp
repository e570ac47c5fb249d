#include "config/config_document.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

TEST(ConfigDocumentTest, SectionsEnumerateByTheirUtf16LittleEndianBytes) {
  ConfigDocument document;
  // U+0141 is 41 01 on disk and U+0240 is 40 02: by bytes U+0240 comes
  // first although its code unit is larger.
  for (const WStringView name : {WStringView(u"b"), WStringView(u"ab"), WStringView(u"\u0141"),
                                 WStringView(u"a"), WStringView(u"B"), WStringView(u"\u0240")}) {
    ASSERT_RC(RC_OK, document.CreateSection(name));
  }
  std::vector<WString> names;
  ConfigSectionEnumerator e = document.EnumerateSections();
  ConfigSectionRef s;
  for (; e.Current(&s) == RC_OK; e.Next()) names.push_back(s->Name());
  EXPECT_EQ((std::vector<WString>{u"\u0240", u"\u0141", u"B", u"a", u"ab", u"b"}), names);

  EXPECT_RC(RC_NO_MORE_ITEMS, e.Current(&s));
  EXPECT_RC(RC_INFO_NOTHING_TO_DO, e.Next());
  e.Reset();
  EXPECT_RC(RC_OK, e.Next());
  ASSERT_RC(RC_OK, e.Current(&s));
  EXPECT_EQ(u"\u0141", s->Name());
}

TEST(ConfigDocumentTest, DuplicatesAreRefusedAndAbsentNamesReportedAsNotPresent) {
  ConfigDocument document;
  ConfigSectionRef section, other, found;
  ASSERT_RC(RC_OK, document.CreateSection(u"root", &section));
  ASSERT_RC(RC_OK, ConfigSection::Create(u"root", &other));
  EXPECT_RC(RC_TABLE_ERROR_37, document.AddSection(other));
  ASSERT_RC(RC_OK, document.FindSection(u"root", &found));
  EXPECT_EQ(section, found);
  EXPECT_RC(RC_ITEM_NOT_PRESENT, document.FindSection(u"Root", &found));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, document.FindSection(u" root", &found));

  ConfigKeyRef key, twin, lower;
  ASSERT_RC(RC_OK, ConfigKey::Create(u"Severity", &key));
  ASSERT_RC(RC_OK, ConfigKey::Create(u"Severity", &twin));
  ASSERT_RC(RC_OK, ConfigKey::Create(u"severity", &lower));
  ASSERT_RC(RC_OK, section->AddKey(key));
  EXPECT_RC(RC_TABLE_ERROR_36, section->AddKey(twin));
  EXPECT_RC(RC_OK, section->AddKey(lower));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, section->FindKey(u"SEVERITY", &key));
}

TEST(ConfigDocumentTest, ReferencesOutliveTheDocument) {
  ConfigSectionRef section;
  ConfigKeyRef key;
  {
    ConfigDocument document;
    ASSERT_RC(RC_OK, document.CreateSection(u"appender", &section));
    ASSERT_RC(RC_OK, section->SetValue(u"FileName", u"x.log"));
    ASSERT_RC(RC_OK, section->FindKey(u"FileName", &key));
    document.Clear();
    EXPECT_RC(RC_ITEM_NOT_PRESENT, document.FindSection(u"appender", nullptr));
  }
  EXPECT_EQ(u"appender", section->Name());
  section.reset();
  EXPECT_EQ(1, key.use_count());
  EXPECT_EQ(u"x.log", key->Value());
}

TEST(ConfigSectionTest, SetValueStoresTheQuotedFormAndKeepsComments) {
  ConfigSectionRef section;
  ASSERT_RC(RC_OK, ConfigSection::Create(u"file", &section));
  ASSERT_RC(RC_OK, section->SetValue(u"FileName", uR"(C:\Logs\a b.log)"));
  WString value;
  ASSERT_RC(RC_OK, section->GetValue(u"FileName", &value));
  EXPECT_EQ(uR"("C:\Logs\a b.log")", value);

  // Over an existing list key: the comment stays, the list goes.
  ConfigKeyRef list;
  ASSERT_RC(RC_OK, ConfigKey::Create(u"AddAppenders", &list));
  ASSERT_RC(RC_OK, list->Set(u"AddAppenders", u"who gets it", u""));
  SplitValueResult parsed;
  ASSERT_RC(RC_OK, SplitValue(u"a b", &parsed));
  ASSERT_RC(RC_OK, list->SetParsedValue(std::move(parsed)));
  ASSERT_RC(RC_OK, section->AddKey(list));
  ASSERT_RC(RC_OK, section->SetValue(u"AddAppenders", u"single"));
  EXPECT_EQ(u"single", list->Value());
  EXPECT_EQ(KeyKind::kSingle, list->Kind());
  EXPECT_TRUE(list->Items().empty());
  EXPECT_EQ(u"who gets it", list->Comment());
}

TEST(ConfigSectionTest, TypedReadsTellAbsentKeysFromEmptyValues) {
  ConfigSectionRef section;
  ASSERT_RC(RC_OK, ConfigSection::Create(u"s", &section));
  for (const auto& [name, text] :
       {std::pair(u"Empty", u""), std::pair(u"One", uR"("a b")"), std::pair(u"Many", uR"(x "y z")")}) {
    ConfigKeyRef key;
    SplitValueResult parsed;
    ASSERT_RC(RC_OK, ConfigKey::Create(name, &key));
    ASSERT_RC(RC_OK, SplitValue(text, &parsed));
    ASSERT_RC(RC_OK, key->SetParsedValue(std::move(parsed)));
    ASSERT_RC(RC_OK, section->AddKey(key));
  }
  WString value = u"default";
  EXPECT_RC(RC_ITEM_NOT_PRESENT, section->GetValue(u"Missing", &value));
  EXPECT_EQ(u"default", value);

  std::vector<WString> items{u"default"};
  EXPECT_RC(RC_ITEM_NOT_PRESENT, section->GetList(u"Missing", &items));
  EXPECT_EQ(1u, items.size());
  EXPECT_RC(RC_OK, section->GetList(u"Empty", &items));
  EXPECT_TRUE(items.empty());
  EXPECT_RC(RC_OK, section->GetList(u"One", &items));
  EXPECT_EQ((std::vector<WString>{u"a b"}), items);
  EXPECT_RC(RC_OK, section->GetList(u"Many", &items));
  EXPECT_EQ((std::vector<WString>{u"x", u"y z"}), items);
}

}  // namespace
}  // namespace zun
