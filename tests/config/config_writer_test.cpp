#include "config/config_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

ConfigDocument Parse(WStringView text) {
  ConfigDocument document;
  MemoryLineSource source(text);
  EXPECT_RC(RC_OK, ParseDocument(document, source));
  return document;
}

WString Render(const ConfigDocument& document) {
  MemoryLineSink sink;
  EXPECT_RC(RC_OK, WriteDocument(document, sink));
  return sink.Text();
}

std::string Utf16LeBytes(WStringView text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

// Everything a document holds, in enumeration order, for comparisons.
std::vector<WString> Describe(const ConfigDocument& document) {
  std::vector<WString> out;
  for (const auto& [name, section] : document.Sections()) {
    out.push_back(u"[" + name + u"] comment=" + section->Comment());
    for (const auto& [keyName, key] : section->Keys()) {
      WString items;
      for (const WString& item : key->Items()) items += u"<" + item + u">";
      out.push_back(keyName + u" value=" + key->Value() + u" kind=" +
                    (key->Kind() == KeyKind::kList ? u"list" : u"single") + u" items=" + items + u" inline=" +
                    key->InlineComment() + u" comment=" + key->Comment());
    }
  }
  return out;
}

TEST(WriteDocumentTest, RendersSectionsAndKeysInNameOrderWithTheirComments) {
  ConfigDocument document = Parse(
      u"[zeta]\n"
      u"; about b\n"
      u"b = 2\n"
      u"a = \"x y\"   z ;items\n"
      u"[alpha] ; first\n"
      u"empty =\n"
      u"comma = a,b\n"
      u"path = \"C:\\My Logs\\x.log\"\n"
      u"quote = \"say \\\"hi\\\"\"\n"
      u"semi = \"a;b\"\n");
  ASSERT_TRUE(document.Errors().empty());
  ConfigSectionRef alpha;
  ASSERT_RC(RC_OK, document.FindSection(u"alpha", &alpha));
  ASSERT_RC(RC_OK, alpha->SetValue(u"FileName", u"D:\\Other Logs\\y.log"));

  EXPECT_EQ(
      u"; first\r\n"
      u"[alpha]\r\n"
      u"FileName = \"D:\\Other Logs\\y.log\"\r\n"
      u"comma = a,b\r\n"
      u"empty = \r\n"
      u"path = \"C:\\My Logs\\x.log\"\r\n"
      u"quote = \"say \\\"hi\\\"\"\r\n"
      u"semi = \"a;b\"\r\n"
      u"\r\n"
      u"[zeta]\r\n"
      u"a = \"x y\" z ;items\r\n"
      u"; about b\r\n"
      u"b = 2\r\n",
      Render(document));
}

TEST(WriteDocumentTest, CommentBlocksKeepInnerEmptyLinesAndDropATrailingOne) {
  ConfigDocument document;
  ConfigSectionRef section;
  ASSERT_RC(RC_OK, document.CreateSection(u"s", &section));
  ASSERT_RC(RC_OK, section->SetComment(u"a\r\n\r\nb\r\n"));
  ConfigKeyRef key;
  ASSERT_RC(RC_OK, ConfigKey::Create(u"k", &key));
  ASSERT_RC(RC_OK, key->Set(u"k", u"\r\nlone", u""));
  ASSERT_RC(RC_OK, section->AddKey(key));
  EXPECT_EQ(u";a\r\n\r\n;b\r\n[s]\r\n\r\n;lone\r\nk = \r\n", Render(document));
}

TEST(WriteDocumentTest, ReadWriteReadKeepsEverythingAndWritingIsStable) {
  for (const char* name : {"agent_service.cfg", "console_tools.cfg", "legacy_monitor.ini"}) {
    ConfigDocument original;
    const std::string path = std::string(ZUNLOGX_TEST_DATA_DIR) + "/config/" + name;
    ASSERT_RC(RC_OK, LoadDocumentFile(original, ToUtf16(path)));
    const WString text = Render(original);
    const ConfigDocument again = Parse(text);
    EXPECT_TRUE(again.Errors().empty()) << name;
    EXPECT_EQ(Describe(original), Describe(again)) << name;
    EXPECT_EQ(text, Render(again)) << name;
  }

  // Plain values that would not read back as themselves are quoted.
  ConfigDocument built;
  ConfigSectionRef section;
  ASSERT_RC(RC_OK, built.CreateSection(u"s", &section));
  const std::vector<WString> tricky{u"two words", u"say \"hi\"", u"a;b", u"\"", u" padded ", u"x\ty"};
  for (std::size_t i = 0; i < tricky.size(); ++i) {
    ConfigKeyRef key;
    ASSERT_RC(RC_OK, ConfigKey::Create(WString(1, char16_t(u'a' + i)), &key));
    ASSERT_RC(RC_OK, key->SetPlainValue(tricky[i]));
    ASSERT_RC(RC_OK, section->AddKey(key));
  }
  const ConfigDocument reread = Parse(Render(built));
  EXPECT_TRUE(reread.Errors().empty());
  ConfigSectionRef back;
  ASSERT_RC(RC_OK, reread.FindSection(u"s", &back));
  for (std::size_t i = 0; i < tricky.size(); ++i) {
    ConfigKeyRef key;
    ASSERT_RC(RC_OK, back->FindKey(WString(1, char16_t(u'a' + i)), &key));
    EXPECT_EQ(KeyKind::kSingle, key->Kind());
    EXPECT_EQ(tricky[i], key->Value());
  }
}

class SaveDocumentFileTest : public test::TempDirTest {};

TEST_F(SaveDocumentFileTest, WritesUtf16LittleEndianWithMarkAndCrLfAndReadsBackEqual) {
  // An existing longer file is replaced, not overwritten in place.
  test::WriteFileBytes(PathOf("out.cfg"), std::string(5000, 'x'));
  const ConfigDocument document = Parse(
      u"[b]\n"
      u"; \u0416 note\n"
      u"x = \"1 2\" 3 ;tail\n"
      u"[a]\n"
      u"k = v\n");
  ASSERT_RC(RC_OK, SaveDocumentFile(document, WidePath("out.cfg"), false));

  const std::string expected = "\xFF\xFE" + Utf16LeBytes(
                                                u"[a]\r\n"
                                                u"k = v\r\n"
                                                u"\r\n"
                                                u"[b]\r\n"
                                                u"; \u0416 note\r\n"
                                                u"x = \"1 2\" 3 ;tail\r\n");
  EXPECT_EQ(expected, test::ReadFileBytes(PathOf("out.cfg")));

  ConfigDocument back;
  ASSERT_RC(RC_OK, LoadDocumentFile(back, WidePath("out.cfg")));
  EXPECT_TRUE(back.Errors().empty());
  EXPECT_EQ(Describe(document), Describe(back));

  ConfigDocument empty;
  ASSERT_RC(RC_OK, SaveDocumentFile(empty, WidePath("out.cfg"), false));
  EXPECT_EQ("\xFF\xFE", test::ReadFileBytes(PathOf("out.cfg")));
}

TEST_F(SaveDocumentFileTest, ProtectFlagGivesEveryoneReadAndWriteWhateverTheUmask) {
  const ConfigDocument document = Parse(u"[root]\nSeverity = Info\n");
  const mode_t previous = umask(077);
  const ResultCode plain = SaveDocumentFile(document, WidePath("plain.cfg"), false);
  const ResultCode guarded = SaveDocumentFile(document, WidePath("open.cfg"), true);
  umask(previous);
  ASSERT_RC(RC_OK, plain);
  ASSERT_RC(RC_OK, guarded);
  using std::filesystem::perms;
  EXPECT_EQ(perms::owner_read | perms::owner_write,
            std::filesystem::status(PathOf("plain.cfg")).permissions());
  EXPECT_EQ(perms::owner_read | perms::owner_write | perms::group_read | perms::group_write |
                perms::others_read | perms::others_write,
            std::filesystem::status(PathOf("open.cfg")).permissions());
}

TEST_F(SaveDocumentFileTest, OpenFailureIsReturnedAndNothingIsCreated) {
  const ConfigDocument document = Parse(u"[root]\n");
  const ResultCode rc = SaveDocumentFile(document, WidePath("no/such/folder/x.cfg"), false);
  EXPECT_TRUE(Failed(rc)) << test::DescribeCode(rc);
  EXPECT_FALSE(std::filesystem::exists(PathOf("no")));
}

TEST(TextFileWriterTest, EncodesMarksLineEndsAndLineFeedsInsideText) {
  MemoryStream utf8;
  TextFileWriter w8(utf8, TextEncoding::kUtf8, LineEnd::kLf);
  ASSERT_RC(RC_OK, w8.WriteMark());
  ASSERT_RC(RC_OK, w8.WriteLine(u"\u00e9"));
  ASSERT_RC(RC_OK, w8.WriteText(u"a\nb"));
  ASSERT_RC(RC_OK, w8.Flush());
  EXPECT_EQ("\xEF\xBB\xBF\xC3\xA9\na\nb",
            std::string(reinterpret_cast<const char*>(utf8.Data()), utf8.Size()));

  MemoryStream be;
  TextFileWriter wbe(be, TextEncoding::kUtf16Be, LineEnd::kCr);
  ASSERT_RC(RC_OK, wbe.WriteMark());
  ASSERT_RC(RC_OK, wbe.WriteLine(u"a\nb"));
  ASSERT_RC(RC_OK, wbe.Flush());
  EXPECT_EQ(std::string("\xFE\xFF\0a\0\r\0b\0\r", 10),
            std::string(reinterpret_cast<const char*>(be.Data()), be.Size()));

  // What the writer makes, the reader takes back, whatever the encoding.
  for (TextEncoding encoding : {TextEncoding::kUtf8, TextEncoding::kUtf16Le, TextEncoding::kUtf16Be,
                                TextEncoding::kUtf32Le, TextEncoding::kAnsi}) {
    MemoryStream stream;
    TextFileWriter writer(stream, encoding, LineEnd::kCrLf);
    ASSERT_RC(RC_OK, writer.WriteMark());
    ASSERT_RC(RC_OK, writer.WriteLine(u"x \u0416 \U0001F600"));
    ASSERT_RC(RC_OK, writer.Flush());
    MemoryStream input(const_cast<std::uint8_t*>(stream.Data()), stream.Size(), stream.Size(), true);
    TextFileReader reader(input, encoding == TextEncoding::kUtf32Le ? encoding : TextEncoding::kNone);
    WString line;
    ASSERT_RC(RC_OK, reader.ReadLine(&line));
    EXPECT_EQ(u"x \u0416 \U0001F600", line);
    EXPECT_RC(RC_INPUT_TRUNCATED, reader.ReadLine(&line));
  }
}

TEST(TextFileWriterTest, FirstFailureOfTheStreamEndsWritingAndIsReturned) {
  ConfigDocument document;
  ConfigSectionRef section;
  ASSERT_RC(RC_OK, document.CreateSection(u"big", &section));
  for (int i = 0; i < 400; ++i) {
    ASSERT_RC(RC_OK, section->SetValue(ToUtf16("key" + std::to_string(i)), u"some value"));
  }
  std::uint8_t buffer[1000];
  MemoryStream small(buffer, sizeof buffer, 0, false);
  TextFileWriter writer(small, TextEncoding::kUtf16Le, LineEnd::kCrLf);
  EXPECT_RC(RC_OFFSET_BEYOND_END, WriteDocument(document, writer));
  EXPECT_RC(RC_OFFSET_BEYOND_END, writer.WriteLine(u"more"));
  EXPECT_RC(RC_OFFSET_BEYOND_END, writer.Flush());
  EXPECT_EQ(0u, small.Size());
}

}  // namespace
}  // namespace zun
