#pragma once
// The in-memory form of configuration text: a document of named sections,
// each a table of named keys. Sections and keys are shared: a holder of a
// reference may keep it after the document is gone. A document, its
// sections and keys have no lock; one thread uses them at a time (only the
// reference counts are atomic).
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"
#include "config/config_value.h"

namespace zun {

class ConfigKey;
class ConfigSection;
class ConfigDocument;
class LineSource;
using ConfigKeyRef = std::shared_ptr<ConfigKey>;
using ConfigSectionRef = std::shared_ptr<ConfigSection>;

// Orders names by their UTF-16LE bytes (low byte of each unit first), the
// shorter name first when one is a prefix of the other. Case-sensitive.
struct ConfigNameLess {
  using is_transparent = void;
  bool operator()(WStringView a, WStringView b) const;
};

template <typename Ref>
using ConfigTable = std::map<WString, Ref, ConfigNameLess>;

// Walks a section or key table in name order. Must not outlive the table;
// adding entries while walking is allowed, removing is not.
template <typename Ref>
class ConfigEnumerator {
 public:
  explicit ConfigEnumerator(const ConfigTable<Ref>& table) : table_(&table), at_(table.begin()) {}

  // The entry at the current place, or RC_NO_MORE_ITEMS past the last.
  ResultCode Current(Ref* out) const {
    if (at_ == table_->end()) return RC_NO_MORE_ITEMS;
    *out = at_->second;
    return RC_OK;
  }
  // Moves on; RC_INFO_NOTHING_TO_DO once it has moved past the last.
  ResultCode Next() {
    if (at_ != table_->end()) ++at_;
    return at_ == table_->end() ? RC_INFO_NOTHING_TO_DO : RC_OK;
  }
  void Reset() { at_ = table_->begin(); }

 private:
  const ConfigTable<Ref>* table_;
  typename ConfigTable<Ref>::const_iterator at_;
};

using ConfigKeyEnumerator = ConfigEnumerator<ConfigKeyRef>;
using ConfigSectionEnumerator = ConfigEnumerator<ConfigSectionRef>;

// One "name = value" line with the comment block above it and the comment
// after its value.
class ConfigKey {
 public:
  // A key with that name and everything else empty.
  static ResultCode Create(WStringView name, ConfigKeyRef* out);

  const WString& Name() const { return name_; }
  // kSingle: the plain value; kList: the items, quoted, joined by one blank.
  // After SetQuotedValue: the quoted form.
  const WString& Value() const { return value_; }
  KeyKind Kind() const { return kind_; }
  const std::vector<WString>& Items() const { return items_; }
  const WString& InlineComment() const { return inlineComment_; }
  const WString& Comment() const { return comment_; }
  // True when Value() already is in the form written to text (lists and
  // SetQuotedValue); false when it is a plain token the writer may have to
  // quote so it reads back the same.
  bool ValueIsQuoted() const { return valueIsQuoted_; }

  // Copies the three texts (an empty view leaves a field empty). The name
  // may change only while the key belongs to no section: sections find keys
  // by the name they had when added.
  ResultCode Set(WStringView name, WStringView comment, WStringView inlineComment);
  // Value, kind, items and inline comment as SplitValue gave them.
  ResultCode SetParsedValue(SplitValueResult&& parsed);
  // A single plain value; the writer quotes it when it must.
  ResultCode SetPlainValue(WStringView value);
  // A single value stored as QuoteValue(text).
  ResultCode SetQuotedValue(WStringView text);

 private:
  WString name_;
  WString value_;
  KeyKind kind_ = KeyKind::kSingle;
  std::vector<WString> items_;
  WString inlineComment_;
  WString comment_;
  bool valueIsQuoted_ = false;
};

// A "[name]" header and its keys. The name is kept exactly as written
// between the brackets, blanks included.
class ConfigSection {
 public:
  static ResultCode Create(WStringView name, ConfigSectionRef* out);

  const WString& Name() const { return name_; }
  // The comment block above the header, lines joined by CR LF.
  const WString& Comment() const { return comment_; }
  ResultCode SetComment(WStringView comment);

  // RC_ITEM_NOT_PRESENT when absent.
  ResultCode FindKey(WStringView name, ConfigKeyRef* out) const;
  bool HasKey(WStringView name) const;
  // RC_TABLE_ERROR_36 when a key of that name exists.
  ResultCode AddKey(ConfigKeyRef key);
  // Creates the key when absent (empty comments), then stores
  // QuoteValue(text) as its single value. This is how objects export their
  // settings.
  ResultCode SetValue(WStringView name, WStringView text);

  // Typed reads for objects configuring themselves; RC_ITEM_NOT_PRESENT
  // means "use the default".
  // The key's value text (see ConfigKey::Value).
  ResultCode GetValue(WStringView name, WString* value) const;
  // The tokens of the value: a list's items, a non-empty single value as one
  // item, nothing for an empty value.
  ResultCode GetList(WStringView name, std::vector<WString>* items) const;

  ConfigKeyEnumerator EnumerateKeys() const { return ConfigKeyEnumerator(keys_); }
  const ConfigTable<ConfigKeyRef>& Keys() const { return keys_; }

 private:
  WString name_;
  WString comment_;
  ConfigTable<ConfigKeyRef> keys_;
};

// A line the reader rejected: its number (the first line is 1) and why
// (RC_TEXT_ERROR_16 .. RC_TEXT_ERROR_1A).
struct ConfigLineError {
  std::uint64_t line;
  ResultCode code;
};

// A parsed configuration: sections by name, and the lines that were
// rejected while reading it.
class ConfigDocument {
 public:
  // RC_ITEM_NOT_PRESENT when absent.
  ResultCode FindSection(WStringView name, ConfigSectionRef* out) const;
  // RC_TABLE_ERROR_37 when a section of that name exists.
  ResultCode AddSection(ConfigSectionRef section);
  // A new empty section added under `name`; `out` may be null.
  ResultCode CreateSection(WStringView name, ConfigSectionRef* out = nullptr);

  ConfigSectionEnumerator EnumerateSections() const { return ConfigSectionEnumerator(sections_); }
  const ConfigTable<ConfigSectionRef>& Sections() const { return sections_; }

  const std::vector<ConfigLineError>& Errors() const { return errors_; }
  // Lines read by the last ParseDocument.
  std::uint64_t LineCount() const { return lineCount_; }

  // Drops sections (holders keep theirs), errors and the line count.
  void Clear();

 private:
  friend class DocumentParser;

  ConfigTable<ConfigSectionRef> sections_;
  std::vector<ConfigLineError> errors_;
  std::uint64_t lineCount_ = 0;
};

}  // namespace zun
