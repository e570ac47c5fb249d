#include "config/config_document.h"

#include <new>
#include <utility>

namespace zun {

bool ConfigNameLess::operator()(WStringView a, WStringView b) const { return Utf16LeBytesLess(a, b); }

ResultCode ConfigKey::Create(WStringView name, ConfigKeyRef* out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  try {
    auto key = std::make_shared<ConfigKey>();
    key->name_.assign(name);
    *out = std::move(key);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ConfigKey::Set(WStringView name, WStringView comment, WStringView inlineComment) {
  try {
    WString newName(name), newComment(comment), newInline(inlineComment);
    name_ = std::move(newName);
    comment_ = std::move(newComment);
    inlineComment_ = std::move(newInline);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ConfigKey::SetParsedValue(SplitValueResult&& parsed) {
  value_ = std::move(parsed.value);
  kind_ = parsed.kind;
  items_ = std::move(parsed.items);
  inlineComment_ = std::move(parsed.inlineComment);
  valueIsQuoted_ = kind_ == KeyKind::kList;
  return RC_OK;
}

ResultCode ConfigKey::SetPlainValue(WStringView value) {
  try {
    value_.assign(value);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  kind_ = KeyKind::kSingle;
  items_.clear();
  valueIsQuoted_ = false;
  return RC_OK;
}

ResultCode ConfigKey::SetQuotedValue(WStringView text) {
  WString quoted;
  const ResultCode rc = QuoteValue(text, &quoted);
  if (Failed(rc)) return rc;
  value_ = std::move(quoted);
  kind_ = KeyKind::kSingle;
  items_.clear();
  valueIsQuoted_ = true;
  return RC_OK;
}

ResultCode ConfigSection::Create(WStringView name, ConfigSectionRef* out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  try {
    auto section = std::make_shared<ConfigSection>();
    section->name_.assign(name);
    *out = std::move(section);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ConfigSection::SetComment(WStringView comment) {
  try {
    comment_.assign(comment);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ConfigSection::FindKey(WStringView name, ConfigKeyRef* out) const {
  const auto it = keys_.find(name);
  if (it == keys_.end()) return RC_ITEM_NOT_PRESENT;
  if (out != nullptr) *out = it->second;
  return RC_OK;
}

bool ConfigSection::HasKey(WStringView name) const { return keys_.find(name) != keys_.end(); }

ResultCode ConfigSection::AddKey(ConfigKeyRef key) {
  if (!key) return RC_INVALID_PARAMETER;
  try {
    const WString& name = key->Name();
    const auto [it, inserted] = keys_.try_emplace(name, std::move(key));
    return inserted ? RC_OK : RC_TABLE_ERROR_36;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ConfigSection::SetValue(WStringView name, WStringView text) {
  ConfigKeyRef key;
  if (FindKey(name, &key) == RC_ITEM_NOT_PRESENT) {
    ResultCode rc = ConfigKey::Create(name, &key);
    if (Failed(rc)) return rc;
    // Quote before adding, so a failure leaves the section as it was.
    rc = key->SetQuotedValue(text);
    if (Failed(rc)) return rc;
    return AddKey(std::move(key));
  }
  return key->SetQuotedValue(text);
}

ResultCode ConfigSection::GetValue(WStringView name, WString* value) const {
  const auto it = keys_.find(name);
  if (it == keys_.end()) return RC_ITEM_NOT_PRESENT;
  if (value == nullptr) return RC_INVALID_PARAMETER;
  try {
    value->assign(it->second->Value());
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ConfigSection::GetList(WStringView name, std::vector<WString>* items) const {
  const auto it = keys_.find(name);
  if (it == keys_.end()) return RC_ITEM_NOT_PRESENT;
  if (items == nullptr) return RC_INVALID_PARAMETER;
  const ConfigKey& key = *it->second;
  try {
    std::vector<WString> result;
    if (key.Kind() == KeyKind::kList) {
      result = key.Items();
    } else if (!key.Value().empty()) {
      result.push_back(key.Value());
    }
    *items = std::move(result);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ConfigDocument::FindSection(WStringView name, ConfigSectionRef* out) const {
  const auto it = sections_.find(name);
  if (it == sections_.end()) return RC_ITEM_NOT_PRESENT;
  if (out != nullptr) *out = it->second;
  return RC_OK;
}

ResultCode ConfigDocument::AddSection(ConfigSectionRef section) {
  if (!section) return RC_INVALID_PARAMETER;
  try {
    const WString& name = section->Name();
    const auto [it, inserted] = sections_.try_emplace(name, std::move(section));
    return inserted ? RC_OK : RC_TABLE_ERROR_37;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ConfigDocument::CreateSection(WStringView name, ConfigSectionRef* out) {
  if (sections_.find(name) != sections_.end()) return RC_TABLE_ERROR_37;
  ConfigSectionRef section;
  ResultCode rc = ConfigSection::Create(name, &section);
  if (Failed(rc)) return rc;
  rc = AddSection(section);
  if (Failed(rc)) return rc;
  if (out != nullptr) *out = std::move(section);
  return RC_OK;
}

void ConfigDocument::Clear() {
  sections_.clear();
  errors_.clear();
  lineCount_ = 0;
}

}  // namespace zun
