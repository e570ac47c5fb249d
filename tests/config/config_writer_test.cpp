#include "config/config_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "config/config_reader.h"
#include "support/config_description.h"
#include "support/test_support.h"

namespace zun {
namespace {

using test::DescribeDocument;

ConfigDocument Parse(WStringView text) {
  ConfigDocument document;
  MemoryLineSource source(text);
  EXPECT_RC(RC_OK, ParseDocument(document, source));
  EXPECT_TRUE(document.Errors().empty()) << ToUtf8(text);
  return document;
}

// Random documents from a seeded generator. Texts draw on letters, every
// character the format gives a meaning to, blanks, a zero and a lone
// surrogate, but hold nothing the text cannot hold (see the refusals below).
class DocumentGenerator {
 public:
  explicit DocumentGenerator(std::uint32_t seed) : rng_(seed) {}

  ConfigDocument Next() {
    ConfigDocument document;
    for (int s = Below(4); s > 0; --s) {
      const WString name = Text(5, u"]");
      WString comment = Comment();
      // The header line of a name with ";" is the last line of its comment.
      if (const std::size_t semicolon = name.find(u';'); semicolon != WString::npos) {
        comment += (comment.empty() ? u"" : u"\r\n") + name.substr(semicolon + 1) + u"]" + Text(3);
      }
      ConfigSectionRef section;
      if (Failed(document.CreateSection(name, &section))) continue;  // drawn twice
      section->SetComment(comment);
      for (int k = Below(5); k > 0; --k) section->AddKey(Key());  // a name drawn twice is dropped
    }
    return document;
  }

 private:
  int Below(std::size_t n) { return static_cast<int>(rng_() % n); }

  // Nothing of `avoid`; trailing backslashes, but not on a text that needs
  // quotes.
  WString Text(int maxLength, WStringView avoid = {}) {
    static constexpr char16_t kChars[] = u"abZ0 \t\v;#[]=\"\\,\u0416\0\xD800";
    static constexpr WStringView kAlphabet(kChars, std::size(kChars) - 1);
    WString text;
    for (int n = Below(maxLength + 1); n > 0; --n) text.push_back(kAlphabet[Below(kAlphabet.size())]);
    std::erase_if(text, [&](char16_t c) { return avoid.find(c) != WStringView::npos; });
    if (text.ends_with(u'\\') && text.find_first_of(u" \t;\"") != WString::npos) text.push_back(u'x');
    return text;
  }

  WString Comment() {
    WString comment;
    for (int line = Below(4); line > 0; --line) {
      const WString text = Text(6);
      comment += comment.empty() ? (text.empty() ? u"c" : text) : u"\r\n" + text;
    }
    return comment;
  }

  ConfigKeyRef Key() {
    WString name(TrimBlanks(Text(6, u"=")));
    if (name.starts_with(u';') || name.starts_with(u'[')) name.insert(0, u"k");
    ConfigKeyRef key;
    EXPECT_RC(RC_OK, ConfigKey::Create(name, &key));
    SplitValueResult list{{}, KeyKind::kList, {}, {}};
    for (int i = 2 + Below(3); i > 0; --i) list.items.push_back(Text(4));
    const int kind = Below(3);
    EXPECT_RC(RC_OK, kind == 0   ? key->SetPlainValue(Text(8))
                     : kind == 1 ? key->SetQuotedValue(Text(8))
                                 : key->SetParsedValue(std::move(list)));
    EXPECT_RC(RC_OK, key->Set(name, Comment(), Text(4)));
    return key;
  }

  std::mt19937 rng_;
};

class WriteDocumentTest : public test::TempDirTest {};

TEST_F(WriteDocumentTest, RandomDocumentsReadBackAsWrittenFromMemoryAndFromFiles) {
  DocumentGenerator generator(20240611);
  for (int round = 0; round < 3000; ++round) {
    const ConfigDocument document = generator.Next();
    MemoryLineSink sink;
    ASSERT_RC(RC_OK, WriteDocument(document, sink)) << round;
    ASSERT_EQ(DescribeDocument(document), DescribeDocument(Parse(sink.Text()))) << ToUtf8(sink.Text());
    if (round % 100 == 0) {
      ConfigDocument loaded;
      ASSERT_RC(RC_OK, SaveDocumentFile(document, WidePath("round.cfg"), false));
      ASSERT_RC(RC_OK, LoadDocumentFile(loaded, WidePath("round.cfg")));
      ASSERT_EQ(DescribeDocument(document), DescribeDocument(loaded)) << round;
    }
  }
}

TEST_F(WriteDocumentTest, WhatTheTextCannotHoldIsRefusedBeforeAnyLineIsWritten) {
  struct Case {
    const char* what;
    WStringView section = u"s", sectionComment = {}, key = u"k", keyComment = {}, value = u"v";
    std::vector<WString> items = {};  // a list when not empty
  };
  const Case cases[] = {
      {.what = "line feed in a value", .value = u"a\nb"},
      {.what = "carriage return in a section name", .section = u"s\r"},
      {.what = "line feed in a comment", .keyComment = u"a\nb"},
      {.what = "; in a section name without its comment line", .section = u"a;b", .sectionComment = u"b"},
      {.what = "= in a key name", .key = u"a=b"},
      {.what = "key name read as a comment", .key = u";k"},
      {.what = "comment starting with an empty line", .section = u"a;b", .sectionComment = u"\r\nb]"},
      {.what = "value in quotes ending in a backslash", .value = u"C:\\My Logs\\"},
      {.what = "list of one item", .items = {u"a"}},
      {.what = "list item in quotes ending in a backslash", .items = {u"a;\\", u"b"}},
  };
  test::WriteFileBytes(PathOf("kept.cfg"), "old");
  for (const Case& c : cases) {
    ConfigDocument document = Parse(u"[0 first]\nfine = value\n");
    ConfigSectionRef bad;
    ConfigKeyRef key;
    ASSERT_RC(RC_OK, document.CreateSection(c.section, &bad));
    ASSERT_RC(RC_OK, bad->SetComment(c.sectionComment));
    ASSERT_RC(RC_OK, ConfigKey::Create(c.key, &key));
    SplitValueResult list{{}, KeyKind::kList, c.items, {}};
    ASSERT_RC(RC_OK, c.items.empty() ? key->SetPlainValue(c.value) : key->SetParsedValue(std::move(list)));
    ASSERT_RC(RC_OK, key->Set(c.key, c.keyComment, u""));
    ASSERT_RC(RC_OK, bad->AddKey(key));

    MemoryLineSink sink;
    EXPECT_RC(RC_INVALID_DATA, WriteDocument(document, sink)) << c.what;
    EXPECT_EQ(u"", sink.Text()) << c.what;
    EXPECT_RC(RC_INVALID_DATA, SaveDocumentFile(document, WidePath("kept.cfg"), false)) << c.what;
  }
  EXPECT_EQ("old", test::ReadFileBytes(PathOf("kept.cfg")));
}

TEST_F(WriteDocumentTest, SavesSortedSectionsAndKeysWithCommentsAsUtf16LeWithCrLf) {
  ConfigDocument document = Parse(
      u"[zeta]\n; about \u0416\nb = 2\na = \"x y\"   z ;items\n[alpha] ; first\nempty =\ncomma = a,b\n"
      u"path = \"C:\\My Logs\\x.log\"\nsemi = \"a;b\"\nlist = a \"\" C:\\Logs\\\n[x;y] ; note\n");
  const ConfigSectionRef alpha = document.Sections().at(u"alpha");
  ASSERT_RC(RC_OK, alpha->SetValue(u"FileName", u"D:\\Other Logs\\y.log"));
  ASSERT_RC(RC_OK, alpha->SetValue(u"Folder", u"C:\\Logs\\"));
  ASSERT_RC(RC_OK, alpha->SetValue(u"Quoted", u"\\\"a\" b"));
  ConfigKeyRef key;
  ASSERT_RC(RC_OK, ConfigKey::Create(u"k", &key));
  ASSERT_RC(RC_OK, key->Set(u"k", u"lone\r\n\r\nend\r\n", u""));
  ASSERT_RC(RC_OK, alpha->AddKey(key));
  test::WriteFileBytes(PathOf("old.cfg"), std::string(5000, 'x'));  // replaced, not overwritten
  const mode_t previous = umask(077);
  const ResultCode codes[] = {SaveDocumentFile(document, WidePath("old.cfg"), false),
                              SaveDocumentFile(document, WidePath("plain.cfg"), false),
                              SaveDocumentFile(document, WidePath("open.cfg"), true)};
  umask(previous);
  for (ResultCode rc : codes) ASSERT_RC(RC_OK, rc);

  // A comment that ends in an empty line ends with a lone ";"; a header
  // holding ";" carries the last line of its section's comment.
  const WString text =
      u"; first\r\n[alpha]\r\nFileName = \"D:\\Other Logs\\y.log\"\r\nFolder = C:\\Logs\\\r\n"
      u"Quoted = \"\\\\\\\"a\\\" b\"\r\ncomma = a,b\r\nempty = \r\n;lone\r\n\r\n;end\r\n;\r\nk = \r\n"
      u"list = a \"\" C:\\Logs\\\r\npath = \"C:\\My Logs\\x.log\"\r\nsemi = \"a;b\"\r\n\r\n"
      u"[x;y] ; note\r\n\r\n"
      u"[zeta]\r\na = \"x y\" z ;items\r\n; about \u0416\r\nb = 2\r\n";
  std::string expected = "\xFF\xFE";
  for (char16_t c : text) expected += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  for (const char* name : {"old.cfg", "plain.cfg", "open.cfg"})
    EXPECT_EQ(expected, test::ReadFileBytes(PathOf(name))) << name;
  EXPECT_EQ(std::filesystem::perms(0600), std::filesystem::status(PathOf("plain.cfg")).permissions());
  EXPECT_EQ(std::filesystem::perms(0666), std::filesystem::status(PathOf("open.cfg")).permissions());

  EXPECT_TRUE(Failed(SaveDocumentFile(document, WidePath("no/such/folder/x.cfg"), false)));
  EXPECT_FALSE(std::filesystem::exists(PathOf("no")));
}

TEST(TextFileWriterTest, FirstFailureOfTheStreamEndsWritingAndIsReturned) {
  ConfigDocument document;
  ConfigSectionRef section;
  ASSERT_RC(RC_OK, document.CreateSection(u"big", &section));
  for (int i = 0; i < 400; ++i) ASSERT_RC(RC_OK, section->SetValue(ToUtf16("key" + std::to_string(i)), u"v"));
  std::uint8_t buffer[1000];
  MemoryStream small(buffer, sizeof buffer, 0, false);
  TextFileWriter writer(small, TextEncoding::kUtf16Le, LineEnd::kCrLf);
  EXPECT_RC(RC_OFFSET_BEYOND_END, WriteDocument(document, writer));
  EXPECT_EQ(0u, small.Size());
}

}  // namespace
}  // namespace zun
