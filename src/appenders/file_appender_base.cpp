#include "appenders/file_appender_base.h"

#include <new>

#include "config/config_document.h"
#include "platform/paths.h"

namespace zun {

ResultCode ResolveLogFileName(WStringView logDirectory, WStringView value, WString* out) noexcept {
  try {
    if (IsAbsolutePath(value)) {
      out->assign(value);
      return RC_OK;
    }
    return CombinePath(logDirectory, value, out);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

WString FileAppenderBase::FileName() const {
  auto guard = LockGuard();
  return fileName_;
}

bool FileAppenderBase::ImmediateWrite() const noexcept {
  auto guard = LockGuard();
  return immediateWrite_;
}

ResultCode FileAppenderBase::FullPath(WString* out) const noexcept {
  auto guard = LockGuard();
  return CombinePath(logDirectory_, fileName_, out);
}

ResultCode FileAppenderBase::LoadConfig(const ConfigSection& section) noexcept {
  try {
    WString value;
    ResultCode rc = section.GetValue(u"FileName", &value);
    if (Failed(rc)) return rc;
    // ${name} variables were replaced when the configuration was applied;
    // replacing them again would turn "$${x}" into a live variable.
    WString resolved;
    rc = ResolveLogFileName(logDirectory_, value, &resolved);
    if (Failed(rc)) return rc;

    bool immediate = false;
    rc = section.GetValue(u"ImmediateWrite", &value);
    if (Succeeded(rc)) {
      immediate = value == u"true" || value == u"yes" || value == u"1";
    } else if (rc != RC_ITEM_NOT_PRESENT) {
      return rc;
    }

    {
      auto guard = LockGuard();
      fileName_ = std::move(resolved);
      immediateWrite_ = immediate;
    }
    return LoadBaseConfig(section);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode FileAppenderBase::SaveConfig(ConfigSection& section) noexcept {
  try {
    ResultCode rc = section.SetValue(u"FileName", FileName());
    if (Failed(rc)) return rc;
    rc = section.SetValue(u"ImmediateWrite", ImmediateWrite() ? u"true" : u"false");
    if (Failed(rc)) return rc;
    return SaveBaseConfig(section);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
