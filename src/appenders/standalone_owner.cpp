#include "appenders/standalone_owner.h"

namespace zun {

ResultCode StandaloneAppenderOwner::Dispatch(Logger*, LogRecord&&) noexcept { return RC_NOT_SUPPORTED; }

ResultCode StandaloneAppenderOwner::ReportRolledFile(WStringView path) noexcept {
  return compressor_.ReportRolledFile(path);
}

ResultCode StandaloneAppenderOwner::WatchFolder(WStringView) noexcept { return RC_NOT_SUPPORTED; }

ResultCode StandaloneAppenderOwner::ReportOpenedFile(WStringView path) noexcept {
  std::lock_guard<std::mutex> lock(lock_);
  return reports_.Report(path);
}

}  // namespace zun
