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
      WString quoted;
      for (std::size_t i = 0; i < tokens.size(); ++i) {
        const ResultCode rc = QuoteValue(tokens[i], &quoted);
        if (Failed(rc)) return rc;
        if (i > 0) result.value.push_back(u' ');
        result.value += quoted;
      }
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
    bool hasQuote = false;
    bool needsQuotes = false;
    for (char16_t c : text) {
      if (c == u'"') hasQuote = true;
      if (c == u'\t' || c == u' ' || c == u',' || c == u';' || c == u'\\') needsQuotes = true;
    }
    WString result;
    if (hasQuote) {
      result.reserve(text.size() + 8);
      result.push_back(u'"');
      for (char16_t c : text) {
        if (c == u'"') result.push_back(u'\\');
        result.push_back(c);
      }
      result.push_back(u'"');
    } else if (needsQuotes) {
      result.reserve(text.size() + 2);
      result.push_back(u'"');
      result.append(text);
      result.push_back(u'"');
    } else {
      result.assign(text);
    }
    *out = std::move(result);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
