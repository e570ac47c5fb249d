#include "log_object.h"

#include <cstdio>

#include "unicode.h"

namespace zunlog {

namespace {

struct NamedResult {
  ZunResult code;
  const char* name;
};

#define ZUNLOG_RESULT_NAME(name) {name, #name},
constexpr NamedResult kResultNames[] = {
#include "result_names.inc"
};
#undef ZUNLOG_RESULT_NAME

// Slots that fill a caller buffer report the size they need, zero included.
template <typename Slot>
ZunResult ReadText(ILog* log, Slot slot, std::u16string* out) {
  std::uint32_t size = 0;
  ZunResult rc = slot(log, nullptr, 0, &size);
  while (rc == ZUN_RC_INSUFFICIENT_BUFFER && size > 0) {
    out->assign(size, u'\0');
    rc = slot(log, out->data(), size - 1, &size);
  }
  if (ZUN_FAILED(rc)) return rc;
  out->resize(size > 0 ? size - 1 : 0);
  return rc;
}

}  // namespace

std::string DescribeResult(ZunResult rc) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", rc);
  // A logger returns an appender's error in its warning form.
  const ZunResult error = (rc & 0xC0000000u) == 0x80000000u ? (rc & 0x3FFFFFFFu) | 0xC0000000u : rc;
  for (const NamedResult& named : kResultNames) {
    if (named.code == rc) return std::string(named.name) + " (" + hex + ")";
  }
  for (const NamedResult& named : kResultNames) {
    if (named.code == error) return std::string(named.name) + " as a warning (" + hex + ")";
  }
  // The library's conversion of system error numbers.
  if ((rc & 0xFFFF0000u) == 0xC0070000u)
    return "system error " + std::to_string(rc & 0xFFFF) + " (" + hex + ")";
  return hex;
}

LogObject::~LogObject() {
  if (log_ != nullptr) log_->vtbl->Release(log_);
}

ZunResult LogObject::Open(const char* verb) {
  static const ZunGuid kInterface = ZUN_LOG_INTERFACE_ID_1;
  const ZunResult rc = ZunGetLogObject(&kInterface, &log_);
  if (ZUN_FAILED(rc))
    std::fprintf(stderr, "zunlog %s: no log object: %s\n", verb, DescribeResult(rc).c_str());
  return rc;
}

ZunResult LogObject::LoadFiles(const std::vector<std::string>& files, const char* verb) {
  for (const std::string& file : files) {
    const ZunResult rc = log_->vtbl->LoadConfigurationFile(log_, Utf8ToUtf16(file).c_str());
    if (ZUN_FAILED(rc)) {
      std::fprintf(stderr, "zunlog %s: cannot load %s: %s\n", verb, file.c_str(), DescribeResult(rc).c_str());
      return rc;
    }
  }
  return ZUN_RC_OK;
}

ZunResult LogObject::ConfigurationText(std::u16string* out) const {
  return ReadText(log_, log_->vtbl->GetConfigurationText, out);
}

ZunResult LogObject::ConfigurationFolder(std::u16string* out) const {
  return ReadText(log_, log_->vtbl->GetConfigurationFolder, out);
}

}  // namespace zunlog
