#include "core/config_model.h"

#include <mutex>
#include <new>

#include "config/config_value.h"
#include "config/log_locations.h"
#include "core/log_system.h"

namespace zun {

namespace {

enum class SectionKind { kNone, kLayout, kAppender, kLogger };

constexpr WStringView kRootSection = u"root";

// The value text a key stands for: a list's items joined by one blank, as
// they were read (their quoted form would glue quotes to names such as the
// "a," of "a, b").
void ValueText(const ConfigKey& key, WString* out) {
  if (key.Kind() != KeyKind::kList) {
    out->assign(key.Value());
    return;
  }
  out->clear();
  for (const WString& item : key.Items()) {
    if (!out->empty()) out->push_back(u' ');
    out->append(item);
  }
}

// A copy of the section with every key single-valued and its ${name}
// variables expanded, no comments. Objects read only the copy.
ResultCode CopySection(const ConfigSection& section, ConfigSectionRef* out) {
  ConfigSectionRef copy;
  ResultCode rc = ConfigSection::Create(section.Name(), &copy);
  if (Failed(rc)) return rc;
  WString value;
  for (const auto& [name, key] : section.Keys()) {
    ValueText(*key, &value);
    rc = ExpandVariables(value, &value);
    if (Failed(rc)) return rc;
    ConfigKeyRef single;
    rc = ConfigKey::Create(name, &single);
    if (Succeeded(rc)) rc = single->SetPlainValue(value);
    if (Succeeded(rc)) rc = copy->AddKey(std::move(single));
    if (Failed(rc)) return rc;
  }
  *out = std::move(copy);
  return RC_OK;
}

SectionKind Classify(const ConfigSection& section) {
  if (section.Name() == kRootSection) return SectionKind::kLogger;
  WString type;
  if (section.GetValue(u"Type", &type) == RC_ITEM_NOT_PRESENT) return SectionKind::kLogger;
  if (type == u"Logger") return SectionKind::kLogger;
  if (type == u"Appender") return SectionKind::kAppender;
  if (type == u"Layout") return SectionKind::kLayout;
  return SectionKind::kNone;
}

class DocumentApplier {
 public:
  DocumentApplier(LogSystem& system, WStringView logFolder)
      : system_(system), applied_(system.Applied()), logFolder_(logFolder) {}

  ResultCode Run(const ConfigDocument& document) {
    ResultCode rc = CopyAndSort(document);
    for (const ConfigSectionRef& section : layouts_) {
      if (Succeeded(rc)) rc = ConfigureLayout(*section);
    }
    for (const ConfigSectionRef& section : appenders_) {
      if (Succeeded(rc)) rc = ConfigureAppender(*section);
    }
    for (const ConfigSectionRef& section : loggers_) {
      if (Succeeded(rc)) rc = ConfigureLogger(*section);
    }
    return rc;
  }

 private:
  using SectionList = std::vector<ConfigSectionRef>;

  ResultCode CopyAndSort(const ConfigDocument& document) {
    for (const auto& [name, section] : document.Sections()) {
      ConfigSectionRef copy;
      const ResultCode rc = CopySection(*section, &copy);
      if (Failed(rc)) return rc;
      switch (Classify(*copy)) {
        case SectionKind::kLayout:
          layouts_.push_back(std::move(copy));
          break;
        case SectionKind::kAppender:
          appenders_.push_back(std::move(copy));
          break;
        case SectionKind::kLogger:
          if (copy->Name() == kRootSection) {
            loggers_.insert(loggers_.begin(), std::move(copy));
          } else {
            loggers_.push_back(std::move(copy));
          }
          break;
        case SectionKind::kNone:
          break;
      }
    }
    return RC_OK;
  }

  ResultCode ConfigureLayout(ConfigSection& section) {
    WString type;
    ResultCode rc = section.GetValue(u"LayoutType", &type);
    if (Failed(rc)) return rc;
    if (type == kLayoutTypeFw) {
      rc = RewriteFwLayoutSection(section);
      if (Failed(rc)) return rc;
      type.assign(kLayoutTypeCustom);
    }
    if (type != kLayoutTypeStandard && type != kLayoutTypeCustom) return RC_LAYOUT_NOT_FOUND;

    auto found = applied_.layouts.find(section.Name());
    if (found == applied_.layouts.end()) {
      LayoutRef made;
      rc = CreateLayout(type, section.Name(), &made);
      if (Failed(rc)) return rc;
      found = applied_.layouts.emplace(section.Name(), std::move(made)).first;
    }
    // Appenders render with the layout while they hold their own lock;
    // holding all of theirs keeps every line whole in one configuration.
    const Layout* layout = found->second.get();
    std::vector<std::unique_lock<std::recursive_mutex>> users;
    for (const auto& [name, appender] : applied_.appenders) {
      auto hold = appender->LockGuard();
      if (appender->AttachedLayout() == layout) users.push_back(std::move(hold));
    }
    return found->second->LoadConfig(section);
  }

  ResultCode ConfigureAppender(const ConfigSection& section) {
    WString type;
    ResultCode rc = section.GetValue(u"AppenderType", &type);
    if (Failed(rc)) return rc;
    auto found = applied_.appenders.find(section.Name());
    if (found == applied_.appenders.end()) {
      AppenderRef made;
      rc = CreateAppender(type, system_.Tree().Dispatcher(), section.Name(), logFolder_, &made);
      if (Failed(rc)) return rc;
      found = applied_.appenders.emplace(section.Name(), std::move(made)).first;
    }
    Appender& appender = *found->second;
    auto hold = appender.LockGuard();
    appender.Close();
    rc = appender.LoadConfig(section);
    if (Failed(rc)) return rc;

    WString layoutName(kDefaultLayoutName);
    rc = section.GetValue(u"Layout", &layoutName);
    if (Failed(rc) && rc != RC_ITEM_NOT_PRESENT) return rc;
    const auto layout = applied_.layouts.find(layoutName);
    if (layout == applied_.layouts.end()) return RC_LAYOUT_NOT_FOUND;
    appender.AttachLayout(layout->second.get());
    return RC_OK;
  }

  ResultCode ConfigureLogger(const ConfigSection& section) {
    Logger* logger = nullptr;
    WString value;
    if (section.Name() == kRootSection) {
      logger = &system_.Tree().Root();
      const ResultCode rc = section.GetValue(u"MaxQueueSize", &value);
      std::uint32_t bytes = kDefaultMaxQueueSize;
      if (rc == RC_ITEM_NOT_PRESENT) {
        system_.SetMaxQueueSize(bytes);
      } else if (Failed(rc)) {
        return rc;
      } else if (Succeeded(ParseNumber32(value, &bytes))) {
        // An invalid bound is ignored: the queue keeps the one it has.
        system_.SetMaxQueueSize(bytes);
      }
    } else {
      const ResultCode rc = system_.Tree().GetOrCreate(&logger, 0, section.Name());
      if (Failed(rc)) return rc;
    }
    ResultCode rc = logger->Configure(section);
    if (Failed(rc)) return rc;

    std::vector<Appender*> attached;
    rc = section.GetValue(u"AddAppenders", &value);
    if (rc == RC_ITEM_NOT_PRESENT || (Succeeded(rc) && TrimBlanks(value).empty())) {
      return LoggerTree::ReplaceAppenders(logger, std::move(attached));
    }
    if (Failed(rc)) return rc;
    std::vector<WString> names;
    rc = SplitAppenderNames(value, &names);
    if (Failed(rc)) return rc;
    for (const WString& name : names) {
      const auto found = applied_.appenders.find(name);
      if (found == applied_.appenders.end()) {
        // The names before the unknown one stay attached.
        rc = RC_APPENDER_NOT_FOUND;
        break;
      }
      attached.push_back(found->second.get());
    }
    const ResultCode replaced = LoggerTree::ReplaceAppenders(logger, std::move(attached));
    return Failed(rc) ? rc : replaced;
  }

  LogSystem& system_;
  AppliedConfiguration& applied_;
  WStringView logFolder_;
  SectionList layouts_;
  SectionList appenders_;
  SectionList loggers_;
};

int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'z') return c - u'a' + 10;
  if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
  return 99;
}

}  // namespace

ResultCode ParseNumber32(WStringView text, std::uint32_t* value) noexcept {
  if (value == nullptr) return RC_INVALID_PARAMETER;
  if (!text.empty() && text.front() == u'-') return RC_INVALID_PARAMETER;
  std::uint64_t base = 10;
  if (text.size() >= 3 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  std::uint64_t number = 0;
  for (const char16_t c : text) {
    const auto digit = static_cast<std::uint64_t>(DigitValue(c));
    if (digit >= base || number > (UINT64_MAX - digit) / base) break;
    number = number * base + digit;
  }
  *value = static_cast<std::uint32_t>(number);
  return RC_OK;
}

ResultCode SplitAppenderNames(WStringView value, std::vector<WString>* names) noexcept {
  try {
    names->clear();
    for (;;) {
      const std::size_t cut = value.find_first_of(u",;");
      names->emplace_back(TrimBlanks(value.substr(0, cut)));
      if (cut == WStringView::npos) return RC_OK;
      value.remove_prefix(cut + 1);
    }
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ApplyDocument(LogSystem& system, const ConfigDocument& document, WStringView logFolder) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> hold(system.Lock());
    DocumentApplier applier(system, logFolder);
    return applier.Run(document);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
