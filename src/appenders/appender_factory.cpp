#include "appenders/appender_factory.h"

#include <new>

#include "appenders/console_appender.h"
#include "appenders/file_appender.h"
#include "appenders/null_appender.h"
#include "appenders/rolling_date_file_appender.h"
#include "appenders/rolling_file_appender.h"

namespace zun {

namespace {

template <typename T>
ResultCode Adopt(ResultCode rc, std::unique_ptr<T>& made, AppenderRef* out) noexcept {
  if (Failed(rc)) return rc;
  try {
    *out = AppenderRef(std::move(made));
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace

ResultCode CreateAppender(WStringView appenderType, AppenderOwner* owner, WStringView name,
                          WStringView logDirectory, AppenderRef* out) noexcept {
  if (appenderType == u"File" || appenderType == u"SharedFile") {
    std::unique_ptr<FileAppender> made;
    return Adopt(FileAppender::Create(owner, name, logDirectory, &made), made, out);
  }
  if (appenderType == u"RollingFile") {
    std::unique_ptr<RollingFileAppender> made;
    return Adopt(RollingFileAppender::Create(owner, name, logDirectory, &made), made, out);
  }
  if (appenderType == u"RollingDateFile") {
    std::unique_ptr<RollingDateFileAppender> made;
    return Adopt(RollingDateFileAppender::Create(owner, name, logDirectory, &made), made, out);
  }
  if (appenderType == u"Console") {
    std::unique_ptr<ConsoleAppender> made;
    return Adopt(ConsoleAppender::Create(owner, name, &made), made, out);
  }
  if (appenderType == u"Null" || appenderType == u"Syslog") {
    std::unique_ptr<NullAppender> made;
    return Adopt(NullAppender::Create(owner, name, &made), made, out);
  }
  return RC_APPENDER_NOT_FOUND;
}

ResultCode ExportAppenderSection(Appender& appender, ConfigDocument& document) noexcept {
  ConfigSectionRef section;
  ResultCode rc = ConfigSection::Create(appender.Name(), &section);
  if (Failed(rc)) return rc;
  rc = appender.SaveConfig(*section);
  if (Failed(rc)) return rc;
  return document.AddSection(std::move(section));
}

}  // namespace zun
