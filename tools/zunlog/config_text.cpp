#include "config_text.h"

#include <algorithm>

namespace zunlog {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The value a key line's text after "=" stands for, or false when its
// quoting is broken: blanks separate tokens, double quotes group them, a
// backslash escapes a quote inside quotes, ";" outside quotes starts the
// inline comment.
bool SplitValue(std::u16string_view text, std::u16string* value) {
  enum class State { kOutside, kQuoted, kAfterQuote, kEscape };
  State state = State::kOutside;
  std::vector<std::u16string> tokens;
  std::u16string token;
  bool open = false;
  const auto close = [&] {
    if (open) tokens.push_back(std::move(token));
    token.clear();
    open = false;
  };
  const auto append = [&](char16_t c) {
    token.push_back(c);
    open = true;
  };
  std::size_t end = text.size();
  for (std::size_t i = 0; i < end; ++i) {
    const char16_t c = text[i];
    const bool escapesQuote = c == u'\\' && i + 1 < text.size() && text[i + 1] == u'"';
    if (state == State::kEscape) {
      append(c);
      state = State::kQuoted;
    } else if (state == State::kQuoted) {
      if (c == u'"') {
        open = true;
        close();
        state = State::kAfterQuote;
      } else if (escapesQuote) {
        state = State::kEscape;
      } else {
        append(c);
      }
    } else if (c == u' ' || c == u'\t') {
      close();
      state = State::kOutside;
    } else if (c == u';') {
      end = i;
    } else if (c == u'"') {
      if (state == State::kAfterQuote) return false;
      open = true;
      state = State::kQuoted;
    } else if (c == u'\\') {
      append(c);
    } else {
      if (state == State::kAfterQuote) return false;
      append(c);
    }
  }
  if (state == State::kQuoted || state == State::kEscape) return false;
  close();
  value->clear();
  for (std::u16string& item : tokens) {
    for (std::size_t at = item.find(u"\\\""); at != std::u16string::npos; at = item.find(u"\\\"", at + 1)) {
      item.erase(at, 1);
    }
    if (!value->empty()) value->push_back(u' ');
    value->append(item);
  }
  return true;
}

std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\n' && text[i] != u'\r') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace

const ConfigKeyLine* ConfigSectionText::Find(std::u16string_view keyName) const {
  for (const ConfigKeyLine& key : keys) {
    if (key.name == keyName) return &key;
  }
  return nullptr;
}

std::u16string ConfigSectionText::Text(std::size_t without) const {
  std::u16string text = header;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i != without) text.append(u"\n").append(keys[i].line);
  }
  return text.append(u"\n");
}

ConfigText ReadConfigText(std::u16string_view text) {
  ConfigText out;
  // After a rejected header the library drops key lines silently until the
  // next accepted one.
  bool skipping = false;
  ConfigSectionText* current = nullptr;
  std::size_t number = 0;
  const auto reject = [&](std::string reason) { out.rejected.push_back({number, std::move(reason)}); };
  for (const std::u16string_view line : SplitLines(text)) {
    ++number;
    const std::size_t first = line.find_first_not_of(u" \t\v");
    if (line.empty() || (first != std::u16string_view::npos && line[first] == u';')) continue;
    if (first != std::u16string_view::npos && line[first] == u'[') {
      current = nullptr;
      skipping = true;
      const std::size_t close = line.find(u']', 1);
      if (close == std::u16string_view::npos) {
        reject("section header without \"]\"");
        continue;
      }
      const std::u16string_view name = line.substr(first + 1, close - first - 1);
      if (std::any_of(out.sections.begin(), out.sections.end(),
                      [&](const auto& s) { return s.name == name; })) {
        reject("a section of this name stands above; the lines up to the next section are dropped");
        continue;
      }
      out.sections.push_back({std::u16string(name), std::u16string(line), number, {}});
      current = &out.sections.back();
      skipping = false;
      continue;
    }
    if (skipping) continue;
    const std::size_t equals = line.find(u'=');
    if (equals == std::u16string_view::npos) {
      reject("no \"=\" in the key line");
      continue;
    }
    if (current == nullptr) {
      reject("key line before the first section");
      continue;
    }
    ConfigKeyLine key{std::u16string(Trim(line.substr(0, equals))), {}, std::u16string(line), number};
    if (current->Find(key.name) != nullptr) {
      reject("the section has this key already");
    } else if (!SplitValue(line.substr(equals + 1), &key.value)) {
      reject("broken quoting in the value");
    } else {
      current->keys.push_back(std::move(key));
    }
  }
  return out;
}

bool ConfigNameLess(std::u16string_view a, std::u16string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const int lowA = a[i] & 0xFF, lowB = b[i] & 0xFF;
    return lowA != lowB ? lowA < lowB : (a[i] >> 8) < (b[i] >> 8);
  }
  return a.size() < b.size();
}

}  // namespace zunlog
