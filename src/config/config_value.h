#pragma once
// Value texts of configuration key lines: splitting a value text into its
// tokens and inline comment, and quoting a text so it reads back as one
// token. Pure functions; safe on any thread.
#include <cstdint>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

// The trim set of configuration text: space, tab, line feed, carriage return
// and vertical tab.
constexpr bool IsConfigBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v';
}
// Removes blanks at both ends.
WStringView TrimBlanks(WStringView text);
// Removes blanks at the start only.
WStringView TrimBlanksLeft(WStringView text);

enum class KeyKind : std::uint32_t { kSingle = 0, kList = 1 };

// What a value text holds. For kSingle, `value` is the unquoted token (or
// empty); for kList, `items` are the tokens and `value` is the items joined
// by one blank, each in its QuoteValue form.
struct SplitValueResult {
  WString value;
  KeyKind kind = KeyKind::kSingle;
  std::vector<WString> items;
  // Everything after the ";" that ends the value, untrimmed.
  WString inlineComment;
};

// Splits the text after the "=" of a key line. Blanks outside double quotes
// separate tokens, a ";" outside quotes starts the inline comment, and a
// backslash escapes a double quote inside quotes. Broken quoting (an
// unterminated quote, or a character glued to a closing quote) gives
// RC_TEXT_ERROR_19; out of memory RC_OUT_OF_MEMORY. `*out` is written only on
// success.
ResultCode SplitValue(WStringView text, SplitValueResult* out);

// The text as one token: with a double quote inside, every double quote is
// escaped and the whole is enclosed in quotes; else with a tab, space, comma,
// ";" or backslash it is enclosed in quotes; else it stays as it is.
ResultCode QuoteValue(WStringView text, WString* out);

}  // namespace zun
