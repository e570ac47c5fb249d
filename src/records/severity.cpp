#include "records/severity.h"

namespace zun {

namespace {

struct NamedSeverity {
  const char16_t* name;
  Severity value;
};

constexpr NamedSeverity kNamed[] = {
    {u"ALL", kSeverityAll},     {u"DEBUG", kSeverityDebug}, {u"DETAIL", kSeverityDetail},
    {u"INFO", kSeverityInfo},   {u"WARN", kSeverityWarn},   {u"ERROR", kSeverityError},
    {u"FATAL", kSeverityFatal}, {u"OFF", kSeverityOff},
};

}  // namespace

Severity SeverityFromText(WStringView text, Severity fallback) {
  for (const NamedSeverity& named : kNamed) {
    if (EqualsIgnoreCase(text, named.name)) return named.value;
  }
  return fallback;
}

const char16_t* SeverityToText(Severity value) {
  for (const NamedSeverity& named : kNamed) {
    if (named.value == value) return named.name;
  }
  return u"INFO";
}

}  // namespace zun
