#include "config/config_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

using Lines = std::vector<std::pair<WString, ResultCode>>;
using Errors = std::vector<std::pair<std::uint64_t, ResultCode>>;

Lines AllLines(LineSource& source) {
  Lines lines;
  WString text;
  ResultCode rc;
  while (Succeeded(rc = source.ReadLine(&text))) lines.emplace_back(text, rc);
  EXPECT_RC(RC_INPUT_TRUNCATED, rc);
  return lines;
}

ConfigDocument Parse(WStringView text) {
  ConfigDocument document;
  MemoryLineSource source(text);
  EXPECT_RC(RC_OK, ParseDocument(document, source));
  return document;
}

Errors ErrorsOf(const ConfigDocument& document) {
  Errors errors;
  for (const ConfigLineError& e : document.Errors()) errors.emplace_back(e.line, e.code);
  return errors;
}

// The key, or an empty stand-in after a failed expectation.
ConfigKeyRef Key(const ConfigDocument& document, WStringView section, WStringView name) {
  ConfigSectionRef s;
  ConfigKeyRef key;
  EXPECT_RC(RC_OK, document.FindSection(section, &s)) << ToUtf8(section);
  if (s) {
    EXPECT_RC(RC_OK, s->FindKey(name, &key)) << ToUtf8(name);
  }
  return key ? key : std::make_shared<ConfigKey>();
}

WString Value(const ConfigDocument& d, WStringView section, WStringView name) {
  return Key(d, section, name)->Value();
}

TEST(MemoryLineSourceTest, SplitsAtLineFeedsAndDropsOnlyTheCarriageReturnBeforeThem) {
  MemoryLineSource crlf(u"a\r\nb");
  EXPECT_EQ((Lines{{u"a", RC_OK}, {u"b", RC_INFO_LAST_INPUT}}), AllLines(crlf));
  MemoryLineSource inner(u"a\rb\n");
  EXPECT_EQ((Lines{{u"a\rb", RC_INFO_LAST_INPUT}}), AllLines(inner));
  MemoryLineSource blanks(u"\n\nx\r");
  EXPECT_EQ((Lines{{u"", RC_OK}, {u"", RC_OK}, {u"x", RC_INFO_LAST_INPUT}}), AllLines(blanks));
  MemoryLineSource empty(u"");
  EXPECT_TRUE(AllLines(empty).empty());
}

TEST(ParseDocumentTest, RejectedLinesAreRecordedWithTheirNumberAndReadingGoesOn) {
  const ConfigDocument d = Parse(
      u"x = 1\n"        // 1: before any section
      u"[a]\nx=1\n"     // 2, 3
      u"[a]\n"          // 4: exists
      u"y=2\n"          // 5: dropped quietly
      u"[b\n"           // 6: no "]"
      u"z=3\n"          // 7: dropped quietly
      u"no equals\n"    // 8
      u"[c]\nk = 1\n"   // 9, 10
      u"k = 2\n"        // 11: key exists
      u"q = \"open\n"   // 12: broken quoting
      u" \t\v\n"        // 13: blanks only
      u"last = \"x\"y"  // 14
  );
  EXPECT_EQ((Errors{{1, RC_TEXT_ERROR_18},
                    {4, RC_TEXT_ERROR_17},
                    {6, RC_TEXT_ERROR_16},
                    {8, RC_TEXT_ERROR_19},
                    {11, RC_TEXT_ERROR_1A},
                    {12, RC_TEXT_ERROR_19},
                    {13, RC_TEXT_ERROR_19},
                    {14, RC_TEXT_ERROR_19}}),
            ErrorsOf(d));
  EXPECT_EQ(14u, d.LineCount());
  ASSERT_EQ(2u, d.Sections().size());
  EXPECT_EQ(1u, d.Sections().at(u"a")->Keys().size());
  EXPECT_EQ(u"1", Value(d, u"c", u"k"));

  // Parsing again starts from nothing.
  ConfigDocument again = Parse(u"[old]\n");
  MemoryLineSource next(u"[new]\n");
  ASSERT_RC(RC_OK, ParseDocument(again, next));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, again.FindSection(u"old", nullptr));
  EXPECT_EQ(1u, again.LineCount());
}

TEST(ParseDocumentTest, NamesAndValuesAreTrimmedButSectionNamesKeptAsWritten) {
  const ConfigDocument d = Parse(u"[ s ]\n  \tSeverity \t=  WARN \t\n=nameless\n[s]\n");
  EXPECT_TRUE(d.Errors().empty());
  EXPECT_EQ(u"WARN", Value(d, u" s ", u"Severity"));
  EXPECT_EQ(u"nameless", Value(d, u" s ", u""));
  EXPECT_TRUE(d.Sections().at(u"s")->Keys().empty());
}

TEST(ParseDocumentTest, CommentsTravelWithTheFollowingSectionOrKey) {
  const ConfigDocument d = Parse(
      u"\n; file header\n"
      u"[s] ; note\n"
      u"; c1\n\n   ;c2\n"
      u"k = v\n"
      u"\n;\n; after an empty comment line\n"
      u"m = w ;inline\n"
      u"; dangling at the end\n");
  EXPECT_EQ(u" file header\r\n note", d.Sections().at(u"s")->Comment());
  EXPECT_EQ(u" c1\r\n\r\nc2", Key(d, u"s", u"k")->Comment());
  EXPECT_EQ(u" after an empty comment line", Key(d, u"s", u"m")->Comment());
  EXPECT_EQ(u"inline", Key(d, u"s", u"m")->InlineComment());

  // Each blank line between comments stays once as an empty line.
  EXPECT_EQ(u"a\r\n\r\n\r\nb\r\nc", Key(Parse(u"[s]\n;a\n\n\n;b\n;c\nk=v\n"), u"s", u"k")->Comment());
}

class TextFileReaderTest : public test::TempDirTest {
 protected:
  Lines ReadAll(const std::string& bytes, TextEncoding preset = TextEncoding::kNone,
                TextEncoding* used = nullptr, LineEnd* end = nullptr) {
    test::WriteFileBytes(PathOf("in.cfg"), bytes);
    FileStream file;
    EXPECT_RC(RC_OK, file.Open(WidePath("in.cfg"), OpenKind::kOpenExisting, kAccessRead, kShareRead, 0));
    TextFileReader reader(file, preset);
    Lines lines = AllLines(reader);
    if (used) *used = reader.Encoding();
    if (end) *end = reader.LineEndFound();
    return lines;
  }
};

TEST_F(TextFileReaderTest, RecognisesEachMarkAndAllThreeLineEnds) {
  TextEncoding used;
  LineEnd end;
  const Lines expected{{u"[s]", RC_OK}, {u"a=\u00e9", RC_OK}, {u"b", RC_OK}, {u"c", RC_INFO_LAST_INPUT}};
  EXPECT_EQ(expected, ReadAll("\xEF\xBB\xBF[s]\r\na=\xC3\xA9\nb\rc", TextEncoding::kNone, &used, &end));
  EXPECT_EQ(TextEncoding::kUtf8, used);
  EXPECT_EQ(LineEnd::kCrLf, end);
  EXPECT_EQ(expected, ReadAll(std::string("\xFF\xFE[\0s\0]\0\n\0a\0=\0\xE9\0\r\0\n\0b\0\r\0c\0", 26),
                              TextEncoding::kNone, &used, &end));
  EXPECT_EQ(TextEncoding::kUtf16Le, used);
  EXPECT_EQ(LineEnd::kLf, end);
  EXPECT_EQ(expected, ReadAll(std::string("\xFE\xFF\0[\0s\0]\0\r\0a\0=\0\xE9\0\r\0\n\0b\0\n\0c", 26),
                              TextEncoding::kNone, &used, &end));
  EXPECT_EQ(TextEncoding::kUtf16Be, used);
  EXPECT_EQ(LineEnd::kCr, end);

  // A preset encoding wins; a recognised mark is still skipped.
  EXPECT_EQ((Lines{{u"ab", RC_INFO_LAST_INPUT}}), ReadAll(std::string("\xEF\xBB\xBF"
                                                                      "a\0b\0",
                                                                      7),
                                                          TextEncoding::kUtf16Le));
  // An odd byte at the end of UTF-16 text is not half a character.
  EXPECT_EQ((Lines{{u"a", RC_INFO_LAST_INPUT}}), ReadAll(std::string("\xFF\xFE"
                                                                     "a\0b",
                                                                     5)));
  EXPECT_TRUE(ReadAll("\xFF\xFE").empty());
}

TEST_F(TextFileReaderTest, TextWithoutMarkIsUtf8OnlyWhenAllOfItIs) {
  TextEncoding used;
  EXPECT_EQ((Lines{{u"\u00fc", RC_INFO_LAST_INPUT}}), ReadAll("\xC3\xBC", TextEncoding::kNone, &used));
  EXPECT_EQ(TextEncoding::kAnsi, used);
  // One Windows-1252 byte far down decides for the whole file, also for the
  // first line that alone would be valid UTF-8.
  const Lines lines = ReadAll("\xC3\xBC\n" + std::string(6000, 'x') + "\n\x80 \x96 \xFC");
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(u"\u00c3\u00bc", lines[0].first);
  EXPECT_EQ(u"\u20ac \u2013 \u00fc", lines[2].first);
  // Overlong forms and surrogates are not UTF-8.
  EXPECT_EQ(u"\u00c0\u00af", ReadAll("\xC0\xAF").front().first);
  EXPECT_EQ(u"\u00ed\u00a0\u20ac", ReadAll("\xED\xA0\x80").front().first);
}

TEST_F(TextFileReaderTest, LinesLongerThanABlockAndLineEndsAcrossBlocksStayWhole) {
  // The CR of the first line is the last byte of the 4096-byte block and
  // its LF the first of the next: one line end, not two.
  const std::string first(4095, 'a'), longLine(10000, 'b');
  const Lines lines = ReadAll(first + "\r\n" + longLine + "\r\nlast\r");
  EXPECT_EQ((Lines{{ToUtf16(first), RC_OK}, {ToUtf16(longLine), RC_OK}, {u"last", RC_OK}}), lines);

  std::string wide = "\xFF\xFE";
  for (int i = 0; i < 2046; ++i) wide += std::string("w\0", 2);
  const Lines wideLines = ReadAll(wide + std::string("\r\0\n\0z\0", 6));
  ASSERT_EQ(2u, wideLines.size());
  EXPECT_EQ(u"z", wideLines[1].first);
}

ConfigDocument LoadData(const char* name, ResultCode expected = RC_OK) {
  ConfigDocument document;
  EXPECT_RC(expected,
            LoadDocumentFile(document, ToUtf16(std::string(ZUNLOGX_TEST_DATA_DIR) + "/config/" + name)));
  return document;
}

TEST(ConfigDataFileTest, AgentServiceFileWithMarkQuotesAndOddSpacing) {
  const ConfigDocument d = LoadData("agent_service.cfg");
  EXPECT_TRUE(d.Errors().empty());
  EXPECT_EQ(33u, d.LineCount());
  EXPECT_EQ(5u, d.Sections().size());
  EXPECT_EQ(
      u" Logging for the remote agent service.\r\n Edit with care: the service re-reads this file when it "
      u"changes.",
      d.Sections().at(u"root")->Comment());
  EXPECT_EQ(u" the main log", Key(d, u"root", u"AddAppenders")->InlineComment());
  EXPECT_EQ(u"no", Value(d, u"Agent.Transfer", u"Additive"));
  EXPECT_EQ(u"agentFile, transferFile", Value(d, u"Agent.Transfer", u"AddAppenders"));
  EXPECT_EQ(u"C:\\Program Files\\Agent\\logs\\agent.log", Value(d, u"agentFile", u"FileName"));
  EXPECT_EQ(u"RollingDateFile", Value(d, u"transferFile", u"AppenderType"));
  EXPECT_EQ(u"%date %time [%severity] %msg", Value(d, u"agentLayout", u"Format"));
  LoadData("missing.cfg", RC_FILE_NOT_FOUND);
}

TEST(ConfigDataFileTest, LegacyWindows1252FileWithMixedLineEndsAndBrokenLines) {
  const ConfigDocument d = LoadData("legacy_monitor.ini");
  EXPECT_EQ((Errors{{1, RC_TEXT_ERROR_18},
                    {5, RC_TEXT_ERROR_1A},
                    {8, RC_TEXT_ERROR_16},
                    {14, RC_TEXT_ERROR_19},
                    {15, RC_TEXT_ERROR_19},
                    {16, RC_TEXT_ERROR_19}}),
            ErrorsOf(d));
  EXPECT_EQ(17u, d.LineCount());
  EXPECT_EQ(u" \u00dcberwachung (monitor) \u2013 alte Einstellungen", d.Sections().at(u"root")->Comment());
  EXPECT_EQ(u"WARN", Value(d, u"root", u"Severity"));
  EXPECT_EQ(u" written by setup", d.Sections().at(u"monitorFile")->Comment());
  EXPECT_EQ(u"D:\\\u00dcberwachung\\monitor.log", Value(d, u"monitorFile", u"FileName"));
  EXPECT_EQ(u"1", Value(d, u"monitorFile", u"ImmediateWrite"));
  EXPECT_EQ(4u, d.Sections().at(u"monitorFile")->Keys().size());
}

TEST(ConfigDataFileTest, ConsoleToolsFileInUtf16WithListsAndCommentBlocks) {
  const ConfigDocument d = LoadData("console_tools.cfg");
  EXPECT_TRUE(d.Errors().empty());
  EXPECT_EQ((std::vector<WString>{u"console,", u"toolLog"}), Key(d, u"root", u"AddAppenders")->Items());
  EXPECT_EQ(u"\u0416\u0443\u0440\u043d\u0430\u043b tools.log", Value(d, u"toolLog", u"FileName"));
  // The lone ";" above adds nothing to an empty block; the blank line after
  // the comment belongs to nothing.
  EXPECT_EQ(u" Size in bytes, not kilobytes.", Key(d, u"toolLog", u"Size")->Comment());
  const ConfigKeyRef header = Key(d, u"shortLayout", u"Header");
  EXPECT_EQ((std::vector<WString>{u"tool log", u"v2"}), header->Items());
  EXPECT_EQ(u"version tag", header->InlineComment());
}

}  // namespace
}  // namespace zun
