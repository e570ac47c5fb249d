#include "appenders/null_appender.h"

#include <new>

#include "config/config_document.h"

namespace zun {

ResultCode NullAppender::Create(AppenderOwner* owner, WStringView name,
                                std::unique_ptr<NullAppender>* out) noexcept {
  try {
    out->reset(new NullAppender(owner, WString(name)));
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode NullAppender::LoadConfig(const ConfigSection& section) noexcept {
  return CheckAppenderType(section, u"Null");
}

ResultCode NullAppender::SaveConfig(ConfigSection& section) noexcept {
  const ResultCode rc = section.SetValue(u"AppenderType", u"Null");
  if (Failed(rc)) return rc;
  return SaveBaseConfig(section);
}

ResultCode NullAppender::Write(WStringView /*text*/) noexcept { return RC_OK; }

}  // namespace zun
