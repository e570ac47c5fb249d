#include "config/config_document.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

std::vector<WString> SectionNames(const ConfigDocument& document) {
  std::vector<WString> names;
  ConfigSectionEnumerator e = document.EnumerateSections();
  for (ConfigSectionRef s; e.Current(&s) == RC_OK; e.Next()) names.push_back(s->Name());
  return names;
}

TEST(ConfigDocumentTest, SectionsEnumerateByTheirUtf16LittleEndianBytes) {
  ConfigDocument document;
  // U+0141 is 41 01 on disk and U+0240 is 40 02: by bytes U+0240 comes
  // first although its code unit is larger.
  for (const WStringView name :
       {WStringView(u"b"), WStringView(u"ab"), WStringView(u"\u0141"), WStringView(u"a"), WStringView(u"B"),
        WStringView(u"\u0240"), WStringView(u"")}) {
    ASSERT_RC(RC_OK, document.CreateSection(name));
  }
  EXPECT_EQ((std::vector<WString>{u"", u"\u0240", u"\u0141", u"B", u"a", u"ab", u"b"}),
            SectionNames(document));
}

TEST(ConfigDocumentTest, EnumeratorReportsTheEndAndCanStartAgain) {
  ConfigDocument document;
  ConfigSectionEnumerator empty = document.EnumerateSections();
  ConfigSectionRef section;
  EXPECT_RC(RC_NO_MORE_ITEMS, empty.Current(&section));
  EXPECT_RC(RC_INFO_NOTHING_TO_DO, empty.Next());

  ASSERT_RC(RC_OK, document.CreateSection(u"one"));
  ASSERT_RC(RC_OK, document.CreateSection(u"two"));
  ConfigSectionEnumerator e = document.EnumerateSections();
  ASSERT_RC(RC_OK, e.Current(&section));
  EXPECT_EQ(u"one", section->Name());
  EXPECT_RC(RC_OK, e.Next());
  ASSERT_RC(RC_OK, e.Current(&section));
  EXPECT_EQ(u"two", section->Name());
  EXPECT_RC(RC_INFO_NOTHING_TO_DO, e.Next());
  EXPECT_RC(RC_NO_MORE_ITEMS, e.Current(&section));
  EXPECT_RC(RC_INFO_NOTHING_TO_DO, e.Next());
  e.Reset();
  ASSERT_RC(RC_OK, e.Current(&section));
  EXPECT_EQ(u"one", section->Name());
}

TEST(ConfigDocumentTest, DuplicateNamesAreRefusedAndAbsentOnesReportedAsNotPresent) {
  ConfigDocument document;
  ConfigSectionRef section;
  ASSERT_RC(RC_OK, document.CreateSection(u"root", &section));
  ConfigSectionRef other;
  ASSERT_RC(RC_OK, ConfigSection::Create(u"root", &other));
  EXPECT_RC(RC_TABLE_ERROR_37, document.AddSection(other));
  EXPECT_RC(RC_TABLE_ERROR_37, document.CreateSection(u"root"));
  ConfigSectionRef found;
  ASSERT_RC(RC_OK, document.FindSection(u"root", &found));
  EXPECT_EQ(section, found);
  EXPECT_RC(RC_ITEM_NOT_PRESENT, document.FindSection(u"Root", &found));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, document.FindSection(u" root", &found));

  ConfigKeyRef key;
  ASSERT_RC(RC_OK, ConfigKey::Create(u"Severity", &key));
  ASSERT_RC(RC_OK, section->AddKey(key));
  ConfigKeyRef twin;
  ASSERT_RC(RC_OK, ConfigKey::Create(u"Severity", &twin));
  EXPECT_RC(RC_TABLE_ERROR_36, section->AddKey(twin));
  ASSERT_RC(RC_OK, ConfigKey::Create(u"severity", &twin));
  EXPECT_RC(RC_OK, section->AddKey(twin));  // names are case-sensitive
  EXPECT_TRUE(section->HasKey(u"Severity"));
  EXPECT_FALSE(section->HasKey(u"SEVERITY"));
  ConfigKeyRef foundKey;
  EXPECT_RC(RC_ITEM_NOT_PRESENT, section->FindKey(u"Additive", &foundKey));
  EXPECT_RC(RC_INVALID_PARAMETER, section->AddKey(nullptr));
}

TEST(ConfigDocumentTest, ReferencesOutliveTheDocument) {
  ConfigSectionRef section;
  ConfigKeyRef key;
  {
    ConfigDocument document;
    ASSERT_RC(RC_OK, document.CreateSection(u"appender"));
    ASSERT_RC(RC_OK, document.FindSection(u"appender", &section));
    ASSERT_RC(RC_OK, section->SetValue(u"FileName", u"x.log"));
    ASSERT_RC(RC_OK, section->FindKey(u"FileName", &key));
    document.Clear();
    EXPECT_RC(RC_ITEM_NOT_PRESENT, document.FindSection(u"appender", nullptr));
  }
  EXPECT_EQ(u"appender", section->Name());
  EXPECT_EQ(u"x.log", key->Value());
  WString value;
  EXPECT_RC(RC_OK, section->GetValue(u"FileName", &value));
  EXPECT_EQ(u"x.log", value);
  section.reset();
  EXPECT_EQ(1, key.use_count());
}

TEST(ConfigSectionTest, SetValueStoresTheQuotedFormAndKeepsComments) {
  ConfigSectionRef section;
  ASSERT_RC(RC_OK, ConfigSection::Create(u"file", &section));
  ASSERT_RC(RC_OK, section->SetValue(u"FileName", uR"(C:\Logs\a b.log)"));
  ConfigKeyRef key;
  ASSERT_RC(RC_OK, section->FindKey(u"FileName", &key));
  EXPECT_EQ(uR"("C:\Logs\a b.log")", key->Value());
  EXPECT_TRUE(key->ValueIsQuoted());
  EXPECT_EQ(KeyKind::kSingle, key->Kind());
  EXPECT_TRUE(key->Comment().empty());

  // Over an existing list key: the comments stay, the list goes.
  ConfigKeyRef list;
  ASSERT_RC(RC_OK, ConfigKey::Create(u"AddAppenders", &list));
  ASSERT_RC(RC_OK, list->Set(u"AddAppenders", u"who gets it", u" inline"));
  SplitValueResult parsed;
  ASSERT_RC(RC_OK, SplitValue(u"a b", &parsed));
  ASSERT_RC(RC_OK, list->SetParsedValue(std::move(parsed)));
  ASSERT_RC(RC_OK, section->AddKey(list));
  ASSERT_EQ(KeyKind::kList, list->Kind());
  ASSERT_RC(RC_OK, section->SetValue(u"AddAppenders", u"single"));
  EXPECT_EQ(u"single", list->Value());
  EXPECT_EQ(KeyKind::kSingle, list->Kind());
  EXPECT_TRUE(list->Items().empty());
  EXPECT_EQ(u"who gets it", list->Comment());
}

TEST(ConfigSectionTest, TypedReadsTellAbsentKeysFromEmptyValues) {
  ConfigSectionRef section;
  ASSERT_RC(RC_OK, ConfigSection::Create(u"s", &section));
  auto add = [&](WStringView name, WStringView valueText) {
    ConfigKeyRef key;
    ASSERT_RC(RC_OK, ConfigKey::Create(name, &key));
    SplitValueResult parsed;
    ASSERT_RC(RC_OK, SplitValue(valueText, &parsed));
    ASSERT_RC(RC_OK, key->SetParsedValue(std::move(parsed)));
    ASSERT_RC(RC_OK, section->AddKey(key));
  };
  add(u"Empty", u"");
  add(u"One", uR"("a b")");
  add(u"Many", uR"(x "y z")");

  WString value = u"default";
  EXPECT_RC(RC_ITEM_NOT_PRESENT, section->GetValue(u"Missing", &value));
  EXPECT_EQ(u"default", value);
  EXPECT_RC(RC_OK, section->GetValue(u"Empty", &value));
  EXPECT_EQ(u"", value);
  EXPECT_RC(RC_OK, section->GetValue(u"Many", &value));
  EXPECT_EQ(uR"(x "y z")", value);

  std::vector<WString> items{u"default"};
  EXPECT_RC(RC_ITEM_NOT_PRESENT, section->GetList(u"Missing", &items));
  EXPECT_EQ(1u, items.size());
  EXPECT_RC(RC_OK, section->GetList(u"Empty", &items));
  EXPECT_TRUE(items.empty());
  EXPECT_RC(RC_OK, section->GetList(u"One", &items));
  EXPECT_EQ((std::vector<WString>{u"a b"}), items);
  EXPECT_RC(RC_OK, section->GetList(u"Many", &items));
  EXPECT_EQ((std::vector<WString>{u"x", u"y z"}), items);

  std::vector<WString> keyNames;
  ConfigKeyEnumerator e = section->EnumerateKeys();
  for (ConfigKeyRef k; e.Current(&k) == RC_OK; e.Next()) keyNames.push_back(k->Name());
  EXPECT_EQ((std::vector<WString>{u"Empty", u"Many", u"One"}), keyNames);
}

}  // namespace
}  // namespace zun
