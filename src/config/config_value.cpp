#include "config/config_value.h"

#include <new>
#include <utility>

namespace zun {

WStringView TrimBlanksLeft(WStringView text) {
  std::size_t start = 0;
  while (start < text.size() && IsConfigBlank(text[start])) ++start;
  return text.substr(start);
}

WStringView TrimBlanks(WStringView text) {
  text = TrimBlanksLeft(text);
  std::size_t end = text.size();
  while (end > 0 && IsConfigBlank(text[end - 1])) --end;
  return text.substr(0, end);
}

namespace {

enum class SplitState { kOutside, kQuoted, kAfterQuote, kEscape };

// Backslash + double quote left inside a token (only possible from an
// escaped backslash before an escaped quote) stands for a double quote.
void UnescapeQuotes(WString& token) {
  std::size_t out = 0;
  for (std::size_t in = 0; in < token.size(); ++in) {
    if (token[in] == u'\\' && in + 1 < token.size() && token[in + 1] == u'"') ++in;
    token[out++] = token[in];
  }
  token.resize(out);
}

}  // namespace

ResultCode SplitValue(WStringView text, SplitValueResult* out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  try {
    std::vector<WString> tokens;
    WString token;
    bool open = false;
    WStringView valueText = text;
    WString inlineComment;

    auto append = [&](char16_t c) {
      token.push_back(c);
      open = true;
    };
    auto close = [&] {
      if (!open) return;
      tokens.push_back(std::move(token));
      token.clear();
      open = false;
    };

    SplitState state = SplitState::kOutside;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char16_t c = text[i];
      if (state == SplitState::kEscape) {
        append(c);
        state = SplitState::kQuoted;
        continue;
      }
      const bool escapesQuote = c == u'\\' && i + 1 < text.size() && text[i + 1] == u'"';
      if (state == SplitState::kQuoted) {
        if (c == u'"') {
          close();
          state = SplitState::kAfterQuote;
        } else if (escapesQuote) {
          state = SplitState::kEscape;
        } else {
          append(c);
        }
        continue;
      }
      // Outside and AfterQuote differ only in what they refuse.
      if (c == u' ' || c == u'\t') {
        close();
        state = SplitState::kOutside;
      } else if (c == u';') {
        inlineComment.assign(text.substr(i + 1));
        valueText = text.substr(0, i);
        close();
        break;
      } else if (c == u'\\') {
        append(c);
      } else if (state == SplitState::kAfterQuote) {
        return RC_TEXT_ERROR_19;
      } else if (c == u'"') {
        open = true;
        state = SplitState::kQuoted;
      } else {
        append(c);
      }
    }
    if (state == SplitState::kQuoted || state == SplitState::kEscape) return RC_TEXT_ERROR_19;
    close();

    for (WString& t : tokens) UnescapeQuotes(t);

    SplitValueResult result;
    result.inlineComment = std::move(inlineComment);
    if (tokens.empty()) {
      result.value.assign(TrimBlanks(valueText));
    } else if (tokens.size() == 1) {
      result.value = std::move(tokens.front());
    } else {
      result.kind = KeyKind::kList;
      const ResultCode rc = JoinListItems(tokens, &result.value);
      if (Failed(rc)) return rc;
      result.items = std::move(tokens);
    }
    *out = std::move(result);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode QuoteValue(WStringView text, WString* out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  try {
    bool mustQuote = false;
    bool mayQuote = false;
    for (char16_t c : text) {
      if (c == u'"' || c == u'\t' || c == u' ' || c == u';') mustQuote = true;
      if (c == u',' || c == u'\\') mayQuote = true;
    }
    const bool endsInBackslash = !text.empty() && text.back() == u'\\';
    // Inside quotes a backslash before the closing quote escapes it, so such
    // a text has no quoted form; plain, it reads back unless it must be quoted.
    if (endsInBackslash && mustQuote) return RC_INVALID_DATA;
    if (endsInBackslash || !(mustQuote || mayQuote)) {
      out->assign(text);
      return RC_OK;
    }
    WString result;
    result.reserve(text.size() + 8);
    result.push_back(u'"');
    std::size_t backslashes = 0;
    for (char16_t c : text) {
      if (c == u'"') {
        // The reader drops one backslash before a quote twice (escape, then
        // token clean-up): a quote alone needs one, a run before it two more.
        result.append(backslashes == 0 ? 1 : 2, u'\\');
      }
      backslashes = c == u'\\' ? backslashes + 1 : 0;
      result.push_back(c);
    }
    result.push_back(u'"');
    *out = std::move(result);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode JoinListItems(const std::vector<WString>& items, WString* out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  try {
    WString joined, quoted;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const ResultCode rc = QuoteValue(items[i], &quoted);
      if (Failed(rc)) return rc;
      if (i > 0) joined.push_back(u' ');
      joined += quoted.empty() ? WStringView(u"\"\"") : WStringView(quoted);
    }
    *out = std::move(joined);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
