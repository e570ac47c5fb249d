#include "appenders/console_appender.h"

#include <new>

#include "config/config_document.h"
#include "platform/console_output.h"

namespace zun {

ResultCode ConsoleAppender::Create(AppenderOwner* owner, WStringView name,
                                   std::unique_ptr<ConsoleAppender>* out) noexcept {
  try {
    out->reset(new ConsoleAppender(owner, WString(name)));
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ConsoleAppender::LoadConfig(const ConfigSection& section) noexcept {
  ResultCode rc = CheckAppenderType(section, u"Console");
  if (Failed(rc)) return rc;
  rc = LoadBaseConfig(section);
  if (Failed(rc)) return rc;
  try {
    WString target;
    rc = section.GetValue(u"Target", &target);
    bool standardError = false;
    if (Succeeded(rc)) {
      standardError = target != u"System.out";
    } else if (rc != RC_ITEM_NOT_PRESENT) {
      return rc;
    }
    auto guard = LockGuard();
    standardError_ = standardError;
    configured_ = true;
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ConsoleAppender::SaveConfig(ConfigSection& section) noexcept {
  ResultCode rc = section.SetValue(u"AppenderType", u"Console");
  if (Failed(rc)) return rc;
  rc = section.SetValue(u"Target", UsesStandardError() ? u"System.err" : u"System.out");
  if (Failed(rc)) return rc;
  return SaveBaseConfig(section);
}

bool ConsoleAppender::UsesStandardError() const noexcept {
  auto guard = LockGuard();
  return standardError_;
}

ResultCode ConsoleAppender::Write(WStringView text) noexcept {
  try {
    bytes_.clear();
    if (Failed(AppendUtf8FromUtf16(text, bytes_))) bytes_ = ToUtf8(text);
    bytes_.push_back('\n');
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  return WriteConsole(bytes_, standardError_);
}

}  // namespace zun
