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

// Everything a document holds, in enumeration order.
std::vector<WString> Describe(const ConfigDocument& document) {
  std::vector<WString> out;
  for (const auto& [name, section] : document.Sections()) {
    out.push_back(u"[" + name + u"] " + section->Comment());
    for (const auto& [keyName, key] : section->Keys()) {
      WString items;
      for (const WString& item : key->Items()) items += u"<" + item + u">";
      out.push_back(keyName + u"=" + key->Value() + u" " + items + u" ;" + key->InlineComment() + u" " +
                    key->Comment());
    }
  }
  return out;
}

TEST(WriteDocumentTest, RendersSectionsAndKeysInNameOrderWithTheirComments) {
  ConfigDocument document = Parse(
      u"[zeta]\n; about b\nb = 2\na = \"x y\"   z ;items\n"
      u"[alpha] ; first\nempty =\ncomma = a,b\npath = \"C:\\My Logs\\x.log\"\nsemi = \"a;b\"\n");
  ConfigSectionRef alpha;
  ASSERT_RC(RC_OK, document.FindSection(u"alpha", &alpha));
  ASSERT_RC(RC_OK, alpha->SetValue(u"FileName", u"D:\\Other Logs\\y.log"));
  ConfigKeyRef key;
  ASSERT_RC(RC_OK, ConfigKey::Create(u"k", &key));
  ASSERT_RC(RC_OK, key->Set(u"k", u"\r\nlone\r\n\r\nend\r\n", u""));
  ASSERT_RC(RC_OK, alpha->AddKey(key));

  EXPECT_EQ(
      u"; first\r\n[alpha]\r\n"
      u"FileName = \"D:\\Other Logs\\y.log\"\r\n"
      u"comma = a,b\r\n"
      u"empty = \r\n"
      u"\r\n;lone\r\n\r\n;end\r\nk = \r\n"
      u"path = \"C:\\My Logs\\x.log\"\r\n"
      u"semi = \"a;b\"\r\n"
      u"\r\n"
      u"[zeta]\r\na = \"x y\" z ;items\r\n; about b\r\nb = 2\r\n",
      Render(document));
}

TEST(WriteDocumentTest, ReadWriteReadKeepsEverythingAndWritingIsStable) {
  for (const char* name : {"agent_service.cfg", "console_tools.cfg", "legacy_monitor.ini"}) {
    ConfigDocument original;
    ASSERT_RC(RC_OK,
              LoadDocumentFile(original, ToUtf16(std::string(ZUNLOGX_TEST_DATA_DIR) + "/config/" + name)));
    const WString text = Render(original);
    const ConfigDocument again = Parse(text);
    EXPECT_TRUE(again.Errors().empty()) << name;
    EXPECT_EQ(Describe(original), Describe(again)) << name;
    EXPECT_EQ(text, Render(again)) << name;
  }

  // Plain values that would not read back as themselves go out quoted.
  const std::vector<WString> tricky{u"two words", u"say \"hi\"", u"a;b", u"\"", u" padded ", u"x\ty"};
  ConfigDocument built;
  ConfigSectionRef section;
  ASSERT_RC(RC_OK, built.CreateSection(u"s", &section));
  for (std::size_t i = 0; i < tricky.size(); ++i) {
    ConfigKeyRef key;
    ASSERT_RC(RC_OK, ConfigKey::Create(WString(1, char16_t(u'a' + i)), &key));
    ASSERT_RC(RC_OK, key->SetPlainValue(tricky[i]));
    ASSERT_RC(RC_OK, section->AddKey(key));
  }
  const ConfigDocument reread = Parse(Render(built));
  EXPECT_TRUE(reread.Errors().empty());
  for (std::size_t i = 0; i < tricky.size(); ++i) {
    const ConfigKeyRef& key = reread.Sections().at(u"s")->Keys().at(WString(1, char16_t(u'a' + i)));
    EXPECT_EQ(KeyKind::kSingle, key->Kind());
    EXPECT_EQ(tricky[i], key->Value());
  }
}

class SaveDocumentFileTest : public test::TempDirTest {};

TEST_F(SaveDocumentFileTest, WritesUtf16LittleEndianWithMarkAndCrLfAndReadsBackEqual) {
  test::WriteFileBytes(PathOf("out.cfg"), std::string(5000, 'x'));  // replaced, not overwritten
  const ConfigDocument document = Parse(u"[b]\n; \u0416 note\nx = \"1 2\" 3 ;tail\n[a]\nk = v\n");
  ASSERT_RC(RC_OK, SaveDocumentFile(document, WidePath("out.cfg"), false));

  const WString text = u"[a]\r\nk = v\r\n\r\n[b]\r\n; \u0416 note\r\nx = \"1 2\" 3 ;tail\r\n";
  std::string expected = "\xFF\xFE";
  for (char16_t c : text) expected += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  EXPECT_EQ(expected, test::ReadFileBytes(PathOf("out.cfg")));

  ConfigDocument back;
  ASSERT_RC(RC_OK, LoadDocumentFile(back, WidePath("out.cfg")));
  EXPECT_TRUE(back.Errors().empty());
  EXPECT_EQ(Describe(document), Describe(back));

  EXPECT_TRUE(Failed(SaveDocumentFile(document, WidePath("no/such/folder/x.cfg"), false)));
  EXPECT_FALSE(std::filesystem::exists(PathOf("no")));
}

TEST_F(SaveDocumentFileTest, ProtectFlagGivesEveryoneReadAndWriteWhateverTheUmask) {
  const ConfigDocument document = Parse(u"[root]\nSeverity = Info\n");
  const mode_t previous = umask(077);
  const ResultCode plain = SaveDocumentFile(document, WidePath("plain.cfg"), false);
  const ResultCode open = SaveDocumentFile(document, WidePath("open.cfg"), true);
  umask(previous);
  ASSERT_RC(RC_OK, plain);
  ASSERT_RC(RC_OK, open);
  using std::filesystem::perms;
  EXPECT_EQ(perms::owner_read | perms::owner_write,
            std::filesystem::status(PathOf("plain.cfg")).permissions());
  EXPECT_EQ(perms::owner_read | perms::owner_write | perms::group_read | perms::group_write |
                perms::others_read | perms::others_write,
            std::filesystem::status(PathOf("open.cfg")).permissions());
}

std::string BytesOf(const MemoryStream& stream) {
  return std::string(reinterpret_cast<const char*>(stream.Data()), stream.Size());
}

TEST(TextFileWriterTest, EncodesMarksLineEndsAndLineFeedsInsideText) {
  MemoryStream be;
  TextFileWriter wbe(be, TextEncoding::kUtf16Be, LineEnd::kCr);
  ASSERT_RC(RC_OK, wbe.WriteMark());
  ASSERT_RC(RC_OK, wbe.WriteLine(u"a\nb"));
  ASSERT_RC(RC_OK, wbe.Flush());
  EXPECT_EQ(std::string("\xFE\xFF\0a\0\r\0b\0\r", 10), BytesOf(be));

  // What the writer makes, the reader takes back.
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
  }
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
  EXPECT_RC(RC_OFFSET_BEYOND_END, writer.WriteLine(u"more"));
  EXPECT_EQ(0u, small.Size());
}

}  // namespace
}  // namespace zun
