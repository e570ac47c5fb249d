#pragma once
// A reader of configuration text that keeps what the library's own reader
// throws away: each section's lines as written, their line numbers, and the
// lines it rejects with the reason. Sections, keys, comments and quoting
// follow the library's configuration text format.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zunlog {

struct ConfigKeyLine {
  std::u16string name;
  std::u16string value;  // as objects read it: unquoted, list items joined by one blank
  std::u16string line;   // as written
  std::size_t lineNumber = 0;
};

struct ConfigSectionText {
  static constexpr std::size_t kAllKeys = static_cast<std::size_t>(-1);

  std::u16string name;
  std::u16string header;  // the header line as written
  std::size_t lineNumber = 0;
  std::vector<ConfigKeyLine> keys;

  const ConfigKeyLine* Find(std::u16string_view keyName) const;
  // The header and the key lines, one a line, leaving out key `without`.
  std::u16string Text(std::size_t without = kAllKeys) const;
};

struct RejectedLine {
  std::size_t lineNumber = 0;
  std::string reason;
};

struct ConfigText {
  std::vector<ConfigSectionText> sections;  // in the order of the text
  std::vector<RejectedLine> rejected;
};

ConfigText ReadConfigText(std::u16string_view text);

// The order in which the library enumerates names: their UTF-16LE bytes
// compared bytewise, a shorter prefix first.
bool ConfigNameLess(std::u16string_view a, std::u16string_view b);

}  // namespace zunlog
