// Any text as a custom layout's format, header and footer.
//
// Input: a byte of header length in UTF-16 units and the header's units, the
// same for the footer, then the format's units up to the end.
//
// Checks: every format loads, with a literal text for each literal token;
// the format rebuilt from the compiled one compiles the same; each "%msg"
// carries the whole message and nothing else does; a fixed record renders,
// also with a time the calendar cannot show; a file holds the header, each
// record and the footer as one line each, as they were rendered; a layout
// saved as configuration text loads back the same when its texts can be
// written there (KeepsInConfigText).
#include <algorithm>

#include "appenders/custom_layout.h"
#include "config/config_writer.h"
#include "fuzz_support.h"
#include "records/log_record.h"

namespace {

using namespace zun;
using namespace zun::fuzz;

void AddKey(ConfigSection& section, WStringView name, WStringView value) {
  ConfigKeyRef key;
  Check(ConfigKey::Create(name, &key) == RC_OK && key->SetPlainValue(value) == RC_OK);
  Check(section.AddKey(key) == RC_OK);
}

// A layout section holding the texts as they stand, as read from a file.
ConfigSectionRef LayoutSection(const WString& format, const WString& header, const WString& footer) {
  ConfigSectionRef section;
  Check(ConfigSection::Create(u"L", &section) == RC_OK);
  AddKey(*section, u"LayoutType", kLayoutTypeCustom);
  AddKey(*section, u"Format", format);
  if (!header.empty()) AddKey(*section, u"Header", header);
  if (!footer.empty()) AddKey(*section, u"Footer", footer);
  return section;
}

// 2019-03-07 08:05:09,042 and numbers at the ends of their ranges.
LogRecord FixedRecord(WStringView message) {
  return {.loggerName = u"fuzz.layout",
          .severity = ZUN_SEVERITY_WARN,
          .message = WString(message),
          .time = 131964195090420000ull,
          .fileId = u"main.c",
          .line = 12,
          .buildNumber = 3,
          .revision = 0xFFFFFFFF,
          .product = 0x80000000,
          .threadId = 4000000000u,
          .processId = 77};
}

// Line-based text keeps no line break and trims vertical tabs. In a quoted
// value a backslash before a quote always escapes it, so a backslash that
// ends the text or stands before a quote of its own is not kept.
bool KeepsInConfigText(const WString& text) {
  return text.find_first_of(u"\r\n\v") == WString::npos && !text.ends_with(u'\\') &&
         text.find(u"\\\"") == WString::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::unique_ptr<FileAppender> file = MakeFileAppender(nullptr, u"layout.log");
  InputReader in{data, size};
  // Texts are zero-terminated: a zero read from configuration ends them.
  const WString header(UpToZero(in.Units(in.Byte())));
  const WString footer(UpToZero(in.Units(in.Byte())));
  const WString format(UpToZero(in.Units(in.Left() / 2)));

  CustomLayout layout(WString(u"L"));
  Check(layout.LoadConfig(*LayoutSection(format, header, footer)) == RC_OK);
  const CompiledFormat& compiled = layout.Compiled();
  const auto& tokens = compiled.tokens;
  Check(std::count(tokens.begin(), tokens.end(), LayoutToken::kLiteral) == std::ssize(compiled.literals));
  WString rebuilt;
  CompiledFormat again;
  Check(RebuildLayoutFormat(compiled, &rebuilt) == RC_OK);
  Check(CompileLayoutFormat(rebuilt, &again) == RC_OK && again == compiled);

  const LogRecord record = FixedRecord(u"<msg>");
  LogRecord unshown = FixedRecord(u"");
  unshown.time = ~FileTime{0};
  WString withMessage, withoutMessage;
  Check(layout.Render(withMessage, record) == RC_OK);
  Check(layout.Render(withoutMessage, unshown) == RC_OK);
  const auto messages = std::count(tokens.begin(), tokens.end(), LayoutToken::kMsg);
  Check(std::ssize(withMessage) == std::ssize(withoutMessage) + 5 * messages);

  file->AttachLayout(&layout);
  Check(file->Append(record) == RC_OK && file->Append(unshown) == RC_OK);
  // A line break inside a format's literal text stays in the file, so the
  // file is compared whole: each rendered text followed by CR LF.
  std::string expected = ToUtf8(withMessage) + "\r\n" + ToUtf8(withoutMessage) + "\r\n";
  if (!header.empty()) expected.insert(0, ToUtf8(header) + "\r\n");
  if (!footer.empty()) expected += ToUtf8(footer) + "\r\n";
  Check(TakeFile(*file) == expected);
  file->AttachLayout(nullptr);

  if (KeepsInConfigText(rebuilt) && KeepsInConfigText(header) && KeepsInConfigText(footer)) {
    ConfigDocument document;
    Check(ExportLayoutSection(layout, document) == RC_OK);
    MemoryLineSink text;
    Check(WriteDocument(document, text) == RC_OK);
    CustomLayout loaded(WString(u"L"));
    Check(loaded.LoadConfig(*SectionOf(text.Text())) == RC_OK);
    Check(loaded.Compiled() == compiled && loaded.Header() == header && loaded.Footer() == footer);
  }
  return 0;
}
