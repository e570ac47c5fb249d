#pragma once
// The custom layout: a user format of literal text and %-tokens, with a
// header and a footer.
#include <cstdint>
#include <vector>

#include "appenders/layout.h"

namespace zun {

// One element of a compiled format. kLiteral takes the next literal text;
// every other value names a record field.
enum class LayoutToken : std::uint32_t {
  kLiteral = 0,
  kLogger = 1,    // "%logger": the logger name
  kSeverity = 2,  // "%severity": the severity name ("INFO" for unnamed values)
  kHostName = 3,  // "%hostname": GetCachedHostName()
  kDate = 4,      // "%date": yyyy-mm-dd of the record's time (UTC)
  kTime = 5,      // "%time": hh:mm:ss,mmm of the record's time (UTC)
  kFileName = 6,  // "%filename": the file identifier
  kLine = 7,      // "%line": signed decimal
  kBuildNr = 8,   // "%buildnr": signed decimal
  kSvnRev = 9,    // "%svnrev": the numeric revision, signed decimal
  kMsg = 10,      // "%msg": the message as it stands (after protection)
  kProduct = 11,  // "%product": signed decimal
  kPid = 12,      // "%pid": unsigned decimal
  kTid = 13,      // "%tid": unsigned decimal
};

// The token text of a field token in its lower-case spelling ("%msg");
// empty for kLiteral and unknown values.
WStringView LayoutTokenText(LayoutToken token) noexcept;

// A format cut into tokens, in format order; each kLiteral in `tokens`
// consumes the next entry of `literals`.
struct CompiledFormat {
  std::vector<LayoutToken> tokens;
  std::vector<WString> literals;

  bool operator==(const CompiledFormat&) const = default;
};

// Compiles a format. "%%" is one "%"; a "%" followed by a token name in any
// letter case is that token (only the name's length is compared, so
// "%msgtext" is "%msg" and the literal "text"); any other "%" is text.
// Inside literal text the two characters backslash and "n" become a line
// feed. `*out` is replaced, and written only on success; RC_OUT_OF_MEMORY.
ResultCode CompileLayoutFormat(WStringView format, CompiledFormat* out) noexcept;

// The format text of a compiled format: literals with every "%" doubled and
// every line feed as backslash and "n", tokens in their lower-case spelling.
// Compiling the result gives the same compiled format. RC_OUT_OF_MEMORY.
ResultCode RebuildLayoutFormat(const CompiledFormat& compiled, WString* out) noexcept;

// Keys: "LayoutType" must be "Custom" (else RC_LAYOUT_TYPE_MISMATCH, also
// when absent); "Format" is required (else RC_ITEM_NOT_PRESENT); "Header"
// and "Footer" are optional texts, used as they stand (no tokens, no "\n").
// A failed LoadConfig leaves the layout as it was.
// Saves "Type", "LayoutType" = "Custom", "Format" rebuilt from the compiled
// format, and "Header" and "Footer" when not empty.
class CustomLayout final : public Layout {
 public:
  explicit CustomLayout(WString&& name) noexcept : Layout(std::move(name)) {}

  // Appends each token's rendering in format order, nothing between them.
  // A time that cannot be split into calendar fields renders "%date" as
  // 0000-00-00 and "%time" as 00:00:00,000.
  ResultCode Render(WString& out, const LogRecord& record) const noexcept override;
  ResultCode LoadConfig(const ConfigSection& section) noexcept override;
  ResultCode SaveConfig(ConfigSection& section) const noexcept override;
  ResultCode GetHeader(WString& out) const noexcept override;
  ResultCode GetFooter(WString& out) const noexcept override;

  const CompiledFormat& Compiled() const noexcept { return compiled_; }
  const WString& Header() const noexcept { return header_; }
  const WString& Footer() const noexcept { return footer_; }

 private:
  CompiledFormat compiled_;
  WString header_;
  WString footer_;
  // Fixed part of every rendered line: literal lengths and the most that
  // each number or timestamp token can print.
  std::size_t fixedChars_ = 0;
  bool needsTime_ = false;
};

}  // namespace zun
