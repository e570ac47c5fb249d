#pragma once
// A configuration document as one text holding every section and comment,
// every key with its kind, value, items and both comments, so that two
// documents compare as texts and a difference prints readably. Header-only:
// the fuzz targets use it without the test framework.
#include <string>

#include "config/config_document.h"

namespace zun::test {

inline WString DescribeDocument(const ConfigDocument& document) {
  WString out;
  // Each field with its length in front, so no text can pass for another.
  const auto field = [&out](char16_t tag, WStringView text) {
    out += tag + ToUtf16(std::to_string(text.size())) + u":" + WString(text);
  };
  for (const auto& [name, section] : document.Sections()) {
    field(u'S', name);
    field(u'C', section->Comment());
    for (const auto& [keyName, key] : section->Keys()) {
      field(u'K', keyName);
      field(u'C', key->Comment());
      field(u';', key->InlineComment());
      for (const WString& item : key->Items()) field(u'I', item);
      // A value stored quoted stands for what it reads back as.
      SplitValueResult plain;
      const bool quoted = key->ValueIsQuoted() && Succeeded(SplitValue(key->Value(), &plain));
      if (key->Kind() == KeyKind::kSingle) field(u'V', quoted ? plain.value : key->Value());
    }
  }
  return out;
}

}  // namespace zun::test
