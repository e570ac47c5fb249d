#pragma once
// The lines that concurrent appending tests write: each names its writer
// and index, and carries a run of one letter whose length and letter follow
// from both, so a line that was cut, merged or mixed with another shows.
#include <string>

namespace zun::test {

inline std::u16string AppendLineText(unsigned writer, unsigned index) {
  std::string head = "w" + std::to_string(writer) + " n" + std::to_string(index) + " ";
  std::u16string text(head.begin(), head.end());
  text.append(10 + (index * 31 + writer * 7) % 90, char16_t(u'a' + (index + writer) % 26));
  text += u" \u00e9\u20ac";
  return text;
}

}  // namespace zun::test
