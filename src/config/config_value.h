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
// empty); for kList, `items` are the tokens and `value` is JoinListItems of
// them.
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

// The text as one token that SplitValue reads back as the text itself. With
// a tab, space, comma, ";", backslash or double quote inside it is enclosed
// in double quotes, every double quote escaped with a backslash (with two
// more after a run of backslashes); else it stays as it is. A text ending in
// a backslash stays as it is when it needs no quotes for the reader (it
// holds no blank, ";" or double quote), and is RC_INVALID_DATA otherwise: a
// backslash before the closing quote would escape it. Line breaks are not
// checked here (the writer refuses them). RC_OUT_OF_MEMORY.
ResultCode QuoteValue(WStringView text, WString* out);

// The value text of a list: the items in their QuoteValue form, an empty
// item as two double quotes, joined by one blank. QuoteValue's failures.
ResultCode JoinListItems(const std::vector<WString>& items, WString* out);

}  // namespace zun
