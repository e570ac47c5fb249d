#include "config/config_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "config/config_writer.h"
#include "support/config_description.h"
#include "support/test_support.h"

namespace zun {
namespace {

using Lines = std::vector<std::pair<WString, ResultCode>>;

Lines ReadBytes(const std::string& bytes, TextEncoding* used = nullptr, LineEnd* end = nullptr) {
  MemoryStream stream(const_cast<char*>(bytes.data()), bytes.size(), bytes.size(), true);
  TextFileReader reader(stream);
  Lines lines;
  WString text;
  ResultCode rc;
  while (Succeeded(rc = reader.ReadLine(&text))) lines.emplace_back(text, rc);
  EXPECT_RC(RC_INPUT_TRUNCATED, rc);
  if (used) *used = reader.Encoding();
  if (end) *end = reader.LineEndFound();
  return lines;
}

ConfigDocument Parse(WStringView text) {
  ConfigDocument document;
  MemoryLineSource source(text);
  EXPECT_RC(RC_OK, ParseDocument(document, source));
  return document;
}

// "line:code " for each rejected line.
std::string ErrorsOf(const ConfigDocument& document) {
  std::string errors;
  for (const ConfigLineError& e : document.Errors()) {
    errors += std::to_string(e.line) + ":" + ResultCodeName(e.code) + " ";
  }
  return errors;
}

// Throws, failing the test, when the section or key is missing.
const ConfigKey& Key(const ConfigDocument& document, const WString& section, const WString& name) {
  return *document.Sections().at(section)->Keys().at(name);
}

TEST(ParseDocumentTest, RejectedLinesAreRecordedWithTheirNumberAndReadingGoesOn) {
  ConfigDocument d = Parse(
      u"x = 1\n[a]\nx=1\n[a]\ny=2\n"         // 1: before any section; 4: exists, so 5 is dropped
      u"[b\nz=3\nno equals\n"                // 6: no "]", so 7 is dropped; 8
      u"[c]\nk = 1\nk = 2\n"                 // 11: key exists
      u"q = \"open\n \t\v\nlast = \"x\"y");  // 12: broken quoting; 13: blanks only; 14
  EXPECT_EQ(
      "1:RC_TEXT_ERROR_18 4:RC_TEXT_ERROR_17 6:RC_TEXT_ERROR_16 8:RC_TEXT_ERROR_19 11:RC_TEXT_ERROR_1A "
      "12:RC_TEXT_ERROR_19 13:RC_TEXT_ERROR_19 14:RC_TEXT_ERROR_19 ",
      ErrorsOf(d));
  EXPECT_EQ(14u, d.LineCount());
  ASSERT_EQ(2u, d.Sections().size());
  EXPECT_EQ(1u, d.Sections().at(u"a")->Keys().size());
  EXPECT_EQ(u"1", Key(d, u"c", u"k").Value());
}

TEST(ParseDocumentTest, TrimsNamesAndValuesAndCarriesCommentsToTheNextSectionOrKey) {
  ConfigDocument d = Parse(u"[ s ]\n  \tSeverity \t=  WARN \t\n=nameless\n[s]\n");
  EXPECT_TRUE(d.Errors().empty());
  EXPECT_EQ(u"WARN", Key(d, u" s ", u"Severity").Value());
  EXPECT_EQ(u"nameless", Key(d, u" s ", u"").Value());

  d = Parse(
      u"\n; file header\n"
      u"[s] ; note\n"
      u"; c1\n\n   ;c2\n"
      u"k = v\n"
      u"\n;\n; after an empty comment line\n\n"
      u"m = w ;inline\n"
      u";a\n\n\n;b\n;c\nn=v\n"
      u"; dangling at the end\n");
  EXPECT_EQ(u" file header\r\n note", d.Sections().at(u"s")->Comment());
  EXPECT_EQ(u" c1\r\n\r\nc2", Key(d, u"s", u"k").Comment());
  // A lone ";" adds nothing to an empty block; a blank line after a comment
  // belongs to nothing.
  EXPECT_EQ(u" after an empty comment line", Key(d, u"s", u"m").Comment());
  EXPECT_EQ(u"inline", Key(d, u"s", u"m").InlineComment());
  // Each blank line between comments stays once as an empty line.
  EXPECT_EQ(u"a\r\n\r\n\r\nb\r\nc", Key(d, u"s", u"n").Comment());
}

TEST(TextFileReaderTest, RecognisesEachMarkAndAllThreeLineEnds) {
  TextEncoding used;
  LineEnd end;
  const Lines expected{{u"[s]", RC_OK}, {u"a=\u00e9", RC_OK}, {u"b", RC_OK}, {u"c", RC_INFO_LAST_INPUT}};
  EXPECT_EQ(expected, ReadBytes("\xEF\xBB\xBF[s]\r\na=\xC3\xA9\nb\rc", &used, &end));
  EXPECT_EQ(std::pair(TextEncoding::kUtf8, LineEnd::kCrLf), std::pair(used, end));
  EXPECT_EQ(expected,
            ReadBytes(std::string("\xFF\xFE[\0s\0]\0\n\0a\0=\0\xE9\0\r\0\n\0b\0\r\0c\0", 26), &used, &end));
  EXPECT_EQ(std::pair(TextEncoding::kUtf16Le, LineEnd::kLf), std::pair(used, end));
  EXPECT_EQ(expected,
            ReadBytes(std::string("\xFE\xFF\0[\0s\0]\0\r\0a\0=\0\xE9\0\r\0\n\0b\0\n\0c", 26), &used, &end));
  EXPECT_EQ(std::pair(TextEncoding::kUtf16Be, LineEnd::kCr), std::pair(used, end));

  // Without a mark, text is UTF-8 only when all of it is: one Windows-1252
  // byte far down decides for the whole file.
  EXPECT_EQ((Lines{{u"\u00fc", RC_INFO_LAST_INPUT}}), ReadBytes("\xC3\xBC", &used));
  EXPECT_EQ(TextEncoding::kAnsi, used);
  EXPECT_EQ((Lines{{u"\u00c3\u00bc", RC_OK},
                   {WString(6000, u'x'), RC_OK},
                   {u"\u20ac \u2013 \u00fc", RC_INFO_LAST_INPUT}}),
            ReadBytes("\xC3\xBC\n" + std::string(6000, 'x') + "\n\x80 \x96 \xFC"));
}

TEST(TextFileReaderTest, LinesLongerThanABlockAndLineEndsAcrossBlocksStayWhole) {
  // The CR of the first line is the last byte of the 4096-byte block and
  // its LF the first of the next: one line end, not two.
  const std::string first(4095, 'a'), longLine(10000, 'b');
  EXPECT_EQ((Lines{{ToUtf16(first), RC_OK}, {ToUtf16(longLine), RC_OK}, {u"last", RC_OK}}),
            ReadBytes(first + "\r\n" + longLine + "\r\nlast\r"));
  std::string wide = "\xFF\xFE";
  for (int i = 0; i < 2046; ++i) wide += std::string("w\0", 2);
  const Lines wideLines = ReadBytes(wide + std::string("\r\0\n\0z\0", 6));
  ASSERT_EQ(2u, wideLines.size());
  EXPECT_EQ(u"z", wideLines[1].first);
}

// UTF-8 with a mark and odd spacing; Windows-1252 with mixed line ends and
// broken lines; UTF-16LE with lists and comment blocks.
TEST(ConfigDataFileTest, HandWrittenFilesParseAndSurviveAWriteAndReread) {
  const struct {
    const char* name;
    std::string errors;
    WString section, value;
  } files[] = {
      {"agent_service.cfg", "", u"agentFile", u"C:\\Program Files\\Agent\\logs\\agent.log"},
      {"legacy_monitor.ini",
       "1:RC_TEXT_ERROR_18 5:RC_TEXT_ERROR_1A 8:RC_TEXT_ERROR_16 14:RC_TEXT_ERROR_19 15:RC_TEXT_ERROR_19 "
       "16:RC_TEXT_ERROR_19 ",
       u"monitorFile", u"D:\\\u00dcberwachung\\monitor.log"},
      {"console_tools.cfg", "", u"toolLog", u"\u0416\u0443\u0440\u043d\u0430\u043b tools.log"},
  };
  for (const auto& f : files) {
    ConfigDocument d;
    ASSERT_RC(RC_OK, LoadDocumentFile(d, ToUtf16(std::string(ZUNLOGX_TEST_DATA_DIR) + "/config/" + f.name)))
        << f.name;
    EXPECT_EQ(f.errors, ErrorsOf(d)) << f.name;
    EXPECT_EQ(f.value, Key(d, f.section, u"FileName").Value()) << f.name;
    MemoryLineSink sink;
    ASSERT_RC(RC_OK, WriteDocument(d, sink));
    EXPECT_EQ(test::DescribeDocument(d), test::DescribeDocument(Parse(sink.Text()))) << f.name;
  }
}

}  // namespace
}  // namespace zun
