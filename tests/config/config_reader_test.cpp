#include "config/config_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

struct Line {
  WString text;
  ResultCode code;
  bool operator==(const Line&) const = default;
};

std::vector<Line> AllLines(LineSource& source) {
  std::vector<Line> lines;
  for (int guard = 0; guard < 100000; ++guard) {
    WString text;
    const ResultCode rc = source.ReadLine(&text);
    if (Failed(rc)) {
      EXPECT_RC(RC_INPUT_TRUNCATED, rc);
      break;
    }
    lines.push_back({text, rc});
  }
  return lines;
}

ConfigDocument Parse(WStringView text) {
  ConfigDocument document;
  MemoryLineSource source(text);
  EXPECT_RC(RC_OK, ParseDocument(document, source));
  return document;
}

std::vector<std::pair<std::uint64_t, ResultCode>> Errors(const ConfigDocument& document) {
  std::vector<std::pair<std::uint64_t, ResultCode>> errors;
  for (const ConfigLineError& e : document.Errors()) errors.emplace_back(e.line, e.code);
  return errors;
}

ConfigSectionRef Section(const ConfigDocument& document, WStringView name) {
  ConfigSectionRef section;
  EXPECT_RC(RC_OK, document.FindSection(name, &section)) << ToUtf8(name);
  return section;
}

ConfigKeyRef Key(const ConfigDocument& document, WStringView section, WStringView name) {
  ConfigKeyRef key;
  const ConfigSectionRef s = Section(document, section);
  if (s) EXPECT_RC(RC_OK, s->FindKey(name, &key)) << ToUtf8(name);
  return key ? key : std::make_shared<ConfigKey>();
}

WString Value(const ConfigDocument& document, WStringView section, WStringView name) {
  return Key(document, section, name)->Value();
}

TEST(MemoryLineSourceTest, SplitsAtLineFeedsAndDropsOnlyTheCarriageReturnBeforeThem) {
  MemoryLineSource crlf(u"a\r\nb");
  EXPECT_EQ((std::vector<Line>{{u"a", RC_OK}, {u"b", RC_INFO_LAST_INPUT}}), AllLines(crlf));

  MemoryLineSource inner(u"a\rb\n");
  EXPECT_EQ((std::vector<Line>{{u"a\rb", RC_INFO_LAST_INPUT}}), AllLines(inner));

  MemoryLineSource blanks(u"\n\nx\r");
  EXPECT_EQ((std::vector<Line>{{u"", RC_OK}, {u"", RC_OK}, {u"x", RC_INFO_LAST_INPUT}}), AllLines(blanks));

  MemoryLineSource lone(u"a\n\r");
  EXPECT_EQ((std::vector<Line>{{u"a", RC_OK}, {u"", RC_INFO_LAST_INPUT}}), AllLines(lone));

  MemoryLineSource empty(u"");
  EXPECT_TRUE(AllLines(empty).empty());
}

TEST(ParseDocumentTest, RejectedLinesAreRecordedWithTheirNumberAndReadingGoesOn) {
  const ConfigDocument document = Parse(
      u"x = 1\n"          // 1: before any section
      u"[a]\n"            // 2
      u"x=1\n"            // 3
      u"[a]\n"            // 4: exists
      u"y=2\n"            // 5: dropped quietly
      u"[b\n"             // 6: no "]"
      u"z=3\n"            // 7: dropped quietly
      u"no equals\n"      // 8
      u"[c]\n"            // 9
      u"k = 1\n"          // 10
      u"k = 2\n"          // 11: key exists
      u"q = \"open\n"     // 12: broken quoting
      u" \t\v\n"          // 13: blanks only
      u"last = \"x\"y");  // 14: broken quoting, no final line feed
  EXPECT_EQ((std::vector<std::pair<std::uint64_t, ResultCode>>{{1, RC_TEXT_ERROR_18},
                                                               {4, RC_TEXT_ERROR_17},
                                                               {6, RC_TEXT_ERROR_16},
                                                               {8, RC_TEXT_ERROR_19},
                                                               {11, RC_TEXT_ERROR_1A},
                                                               {12, RC_TEXT_ERROR_19},
                                                               {13, RC_TEXT_ERROR_19},
                                                               {14, RC_TEXT_ERROR_19}}),
            Errors(document));
  EXPECT_EQ(14u, document.LineCount());
  ASSERT_EQ(2u, document.Sections().size());
  const ConfigSectionRef a = Section(document, u"a");
  EXPECT_EQ(1u, a->Keys().size());
  EXPECT_EQ(u"1", Value(document, u"a", u"x"));
  EXPECT_EQ(u"1", Value(document, u"c", u"k"));
  EXPECT_EQ(1u, Section(document, u"c")->Keys().size());
}

TEST(ParseDocumentTest, NamesAndValuesAreTrimmedButSectionNamesKeptAsWritten) {
  const ConfigDocument document = Parse(
      u"[ s ]\n"
      u"  \tSeverity \t=  WARN \t\n"
      u"severity=DEBUG\n"
      u"=nameless\n"
      u"Empty =\n"
      u"Path = \"C:\\My Logs\\x.log\"\n"
      u"[s]\n");
  EXPECT_TRUE(document.Errors().empty());
  EXPECT_EQ(u"WARN", Value(document, u" s ", u"Severity"));
  EXPECT_EQ(u"DEBUG", Value(document, u" s ", u"severity"));
  EXPECT_EQ(u"nameless", Value(document, u" s ", u""));
  EXPECT_EQ(u"", Value(document, u" s ", u"Empty"));
  EXPECT_EQ(u"C:\\My Logs\\x.log", Value(document, u" s ", u"Path"));
  EXPECT_TRUE(Section(document, u"s")->Keys().empty());
}

TEST(ParseDocumentTest, CommentsTravelWithTheFollowingSectionOrKey) {
  const ConfigDocument document = Parse(
      u"\n"
      u"; file header\n"
      u"[s] ; note\n"
      u"; c1\n"
      u"\n"
      u"   ;c2\n"
      u"k = v\n"
      u"\n"
      u";\n"
      u"; after an empty comment line\n"
      u"m = w ;inline\n"
      u"; dangling at the end\n"
      u"\n");
  const ConfigSectionRef s = Section(document, u"s");
  EXPECT_EQ(u" file header\r\n note", s->Comment());
  const ConfigKeyRef k = Key(document, u"s", u"k");
  EXPECT_EQ(u" c1\r\n\r\nc2", k->Comment());
  EXPECT_TRUE(k->InlineComment().empty());
  const ConfigKeyRef m = Key(document, u"s", u"m");
  EXPECT_EQ(u" after an empty comment line", m->Comment());
  EXPECT_EQ(u"inline", m->InlineComment());
  EXPECT_TRUE(document.Errors().empty());

  // Blank lines between comments stay, each as one empty line, and are used
  // up by the comment that follows them.
  const ConfigDocument spaced = Parse(u"[s]\n;a\n\n\n;b\n;c\nk=v\n");
  EXPECT_EQ(u"a\r\n\r\n\r\nb\r\nc", Key(spaced, u"s", u"k")->Comment());
}

TEST(ParseDocumentTest, ListsKeepTheirItemsAndSectionsEnumerateByName) {
  const ConfigDocument document = Parse(u"[b]\nk = a\tb\n[a]\nk = \"x y\" z\n");
  std::vector<WString> names;
  for (const auto& [name, section] : document.Sections()) names.push_back(name);
  EXPECT_EQ((std::vector<WString>{u"a", u"b"}), names);
  const ConfigKeyRef tabbed = Key(document, u"b", u"k");
  EXPECT_EQ(KeyKind::kList, tabbed->Kind());
  EXPECT_EQ((std::vector<WString>{u"a", u"b"}), tabbed->Items());
  EXPECT_EQ(u"a b", tabbed->Value());
  EXPECT_EQ(u"\"x y\" z", Value(document, u"a", u"k"));
}

TEST(ParseDocumentTest, ParsingAgainReplacesEverythingButHeldSectionsSurvive) {
  ConfigDocument document;
  MemoryLineSource first(u"[old]\nk=1\nbad\n");
  ASSERT_RC(RC_OK, ParseDocument(document, first));
  ConfigSectionRef old = Section(document, u"old");
  MemoryLineSource second(u"[new]\n");
  ASSERT_RC(RC_OK, ParseDocument(document, second));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, document.FindSection(u"old", nullptr));
  EXPECT_TRUE(document.Errors().empty());
  EXPECT_EQ(1u, document.LineCount());
  EXPECT_EQ(u"1", old->Keys().at(u"k")->Value());
}

class TextFileReaderTest : public test::TempDirTest {
 protected:
  std::vector<Line> ReadAll(const std::string& bytes, TextEncoding preset = TextEncoding::kNone,
                            TextEncoding* used = nullptr, LineEnd* end = nullptr) {
    test::WriteFileBytes(PathOf("in.cfg"), bytes);
    FileStream file;
    EXPECT_RC(RC_OK, file.Open(WidePath("in.cfg"), OpenKind::kOpenExisting, kAccessRead, kShareRead, 0));
    TextFileReader reader(file, preset);
    std::vector<Line> lines = AllLines(reader);
    if (used) *used = reader.Encoding();
    if (end) *end = reader.LineEndFound();
    EXPECT_RC(RC_OK, reader.ReadError());
    return lines;
  }
};

TEST_F(TextFileReaderTest, RecognisesEachMarkAndAllThreeLineEnds) {
  TextEncoding used;
  LineEnd end;
  const std::vector<Line> expected{
      {u"[s]", RC_OK}, {u"a=\u00e9", RC_OK}, {u"b", RC_OK}, {u"c", RC_INFO_LAST_INPUT}};

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
  EXPECT_EQ((std::vector<Line>{{u"ab", RC_INFO_LAST_INPUT}}), ReadAll(std::string("\xEF\xBB\xBF"
                                                                                  "a\0b\0",
                                                                                  7),
                                                                      TextEncoding::kUtf16Le, &used));
  EXPECT_EQ(TextEncoding::kUtf16Le, used);
  EXPECT_EQ((std::vector<Line>{{u"\U0001F600", RC_OK}}),
            ReadAll(std::string("\x00\xF6\x01\x00\n\0\0\0", 8), TextEncoding::kUtf32Le));

  // An odd byte at the end of UTF-16 text is not half a character.
  EXPECT_EQ((std::vector<Line>{{u"a", RC_INFO_LAST_INPUT}}), ReadAll(std::string("\xFF\xFE"
                                                                                 "a\0b",
                                                                                 5)));
  EXPECT_TRUE(ReadAll("").empty());
  EXPECT_TRUE(ReadAll("\xFF\xFE").empty());
}

TEST_F(TextFileReaderTest, TextWithoutMarkIsUtf8OnlyWhenAllOfItIs) {
  TextEncoding used;
  EXPECT_EQ((std::vector<Line>{{u"\u00fc", RC_OK}, {u"x", RC_INFO_LAST_INPUT}}),
            ReadAll("\xC3\xBC\nx", TextEncoding::kNone, &used));
  EXPECT_EQ(TextEncoding::kAnsi, used);

  // One Windows-1252 byte far down decides for the whole file, also for the
  // first line that alone would be valid UTF-8.
  std::string mixed = "\xC3\xBC\n" + std::string(6000, 'x') + "\n\x80 \x96 \xFC";
  const std::vector<Line> lines = ReadAll(mixed);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(u"\u00c3\u00bc", lines[0].text);
  EXPECT_EQ(6000u, lines[1].text.size());
  EXPECT_EQ(u"\u20ac \u2013 \u00fc", lines[2].text);

  // Overlong forms, surrogates and cut sequences are not UTF-8.
  EXPECT_EQ(u"\u00c0\u00af", ReadAll("\xC0\xAF").front().text);
  EXPECT_EQ(u"\u00ed\u00a0\u20ac", ReadAll("\xED\xA0\x80").front().text);
  EXPECT_EQ(u"a\u00e2\u201a", ReadAll("a\xE2\x82").front().text);
}

TEST_F(TextFileReaderTest, LinesLongerThanABlockAndLineEndsAcrossBlocksStayWhole) {
  // The CR of the first line is the last byte of the first 4096-byte block
  // and its LF the first byte of the next: one line end, not two.
  const std::string first(4095, 'a');
  const std::string longLine(10000, 'b');
  LineEnd end;
  const std::vector<Line> lines =
      ReadAll(first + "\r\n" + longLine + "\r\nlast\r", TextEncoding::kNone, nullptr, &end);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(ToUtf16(first), lines[0].text);
  EXPECT_EQ(ToUtf16(longLine), lines[1].text);
  EXPECT_EQ(u"last", lines[2].text);
  EXPECT_EQ(LineEnd::kCrLf, end);

  // The same in UTF-16: the mark shifts units so the CR ends the block.
  std::string wide = "\xFF\xFE";
  for (int i = 0; i < 2046; ++i) wide += std::string("w\0", 2);
  wide += std::string("\r\0\n\0z\0", 6);
  const std::vector<Line> wideLines = ReadAll(wide);
  ASSERT_EQ(2u, wideLines.size());
  EXPECT_EQ(2046u, wideLines[0].text.size());
  EXPECT_EQ(u"z", wideLines[1].text);
}

TEST_F(TextFileReaderTest, LoadDocumentFileReadsFilesAndReturnsOpenFailures) {
  test::WriteFileBytes(PathOf("app.cfg"), "\xEF\xBB\xBF[root]\r\nSeverity = Info\r\n");
  ConfigDocument document;
  ASSERT_RC(RC_OK, LoadDocumentFile(document, WidePath("app.cfg")));
  EXPECT_EQ(u"Info", Value(document, u"root", u"Severity"));

  EXPECT_RC(RC_FILE_NOT_FOUND, LoadDocumentFile(document, WidePath("missing.cfg")));
}

class ConfigDataFileTest : public ::testing::Test {
 protected:
  static ConfigDocument Load(const char* name) {
    ConfigDocument document;
    const std::string path = std::string(ZUNLOGX_TEST_DATA_DIR) + "/config/" + name;
    EXPECT_RC(RC_OK, LoadDocumentFile(document, ToUtf16(path)));
    return document;
  }
};

TEST_F(ConfigDataFileTest, AgentServiceFileWithMarkQuotesAndOddSpacing) {
  const ConfigDocument d = Load("agent_service.cfg");
  EXPECT_TRUE(d.Errors().empty());
  std::vector<WString> names;
  for (const auto& [name, section] : d.Sections()) names.push_back(name);
  EXPECT_EQ((std::vector<WString>{u"Agent.Transfer", u"agentFile", u"agentLayout", u"root", u"transferFile"}),
            names);
  EXPECT_EQ(
      u" Logging for the remote agent service.\r\n Edit with care: the service re-reads this file when it "
      u"changes.",
      Section(d, u"root")->Comment());
  EXPECT_EQ(u"agentFile", Value(d, u"root", u"AddAppenders"));
  EXPECT_EQ(u" the main log", Key(d, u"root", u"AddAppenders")->InlineComment());
  EXPECT_EQ(u" Everything from the transfer engine goes to its own file too.",
            Section(d, u"Agent.Transfer")->Comment());
  EXPECT_EQ(u"no", Value(d, u"Agent.Transfer", u"Additive"));
  EXPECT_EQ(u"agentFile, transferFile", Value(d, u"Agent.Transfer", u"AddAppenders"));
  EXPECT_EQ(u"C:\\Program Files\\Agent\\logs\\agent.log", Value(d, u"agentFile", u"FileName"));
  EXPECT_EQ(u"0x200000", Value(d, u"agentFile", u"Size"));
  EXPECT_EQ(u"RollingDateFile", Value(d, u"transferFile", u"AppenderType"));
  EXPECT_EQ(u"${process}_transfer.log", Value(d, u"transferFile", u"FileName"));
  EXPECT_EQ(u"14", Value(d, u"transferFile", u"DaysCount"));
  EXPECT_EQ(u"%date %time [%severity] %msg", Value(d, u"agentLayout", u"Format"));
  EXPECT_EQ(u"=== agent started ===", Value(d, u"agentLayout", u"Header"));
  EXPECT_EQ(33u, d.LineCount());
}

TEST_F(ConfigDataFileTest, LegacyWindows1252FileWithMixedLineEndsAndBrokenLines) {
  const ConfigDocument d = Load("legacy_monitor.ini");
  EXPECT_EQ((std::vector<std::pair<std::uint64_t, ResultCode>>{{1, RC_TEXT_ERROR_18},
                                                               {5, RC_TEXT_ERROR_1A},
                                                               {8, RC_TEXT_ERROR_16},
                                                               {14, RC_TEXT_ERROR_19},
                                                               {15, RC_TEXT_ERROR_19},
                                                               {16, RC_TEXT_ERROR_19}}),
            Errors(d));
  EXPECT_EQ(17u, d.LineCount());
  EXPECT_EQ(u" \u00dcberwachung (monitor) \u2013 alte Einstellungen", Section(d, u"root")->Comment());
  EXPECT_EQ(u"WARN", Value(d, u"root", u"Severity"));
  EXPECT_EQ(u"monitorFile", Value(d, u"root", u"AddAppenders"));
  const ConfigSectionRef monitor = Section(d, u"monitorFile");
  EXPECT_EQ(u" written by setup", monitor->Comment());
  EXPECT_EQ(u"D:\\\u00dcberwachung\\monitor.log", Value(d, u"monitorFile", u"FileName"));
  EXPECT_FALSE(monitor->HasKey(u"Target"));
  EXPECT_EQ(u"1", Value(d, u"monitorFile", u"ImmediateWrite"));
  EXPECT_EQ(4u, monitor->Keys().size());
}

TEST_F(ConfigDataFileTest, ConsoleToolsFileInUtf16WithListsAndCommentBlocks) {
  const ConfigDocument d = Load("console_tools.cfg");
  EXPECT_TRUE(d.Errors().empty());
  const ConfigKeyRef add = Key(d, u"root", u"AddAppenders");
  EXPECT_EQ(KeyKind::kList, add->Kind());
  EXPECT_EQ((std::vector<WString>{u"console,", u"toolLog"}), add->Items());
  EXPECT_EQ(u"\"console,\" toolLog", add->Value());
  EXPECT_EQ(u"System.err", Value(d, u"console", u"Target"));
  EXPECT_EQ(u"\u0416\u0443\u0440\u043d\u0430\u043b tools.log", Value(d, u"toolLog", u"FileName"));
  // The lone ";" above it adds nothing to an empty block; the blank line
  // after the comment belongs to nothing.
  EXPECT_EQ(u" Size in bytes, not kilobytes.", Key(d, u"toolLog", u"Size")->Comment());
  const ConfigKeyRef header = Key(d, u"shortLayout", u"Header");
  EXPECT_EQ((std::vector<WString>{u"tool log", u"v2"}), header->Items());
  EXPECT_EQ(u"version tag", header->InlineComment());
  EXPECT_EQ(u"Fw", Value(d, u"shortLayout", u"LayoutType"));
}

}  // namespace
}  // namespace zun
