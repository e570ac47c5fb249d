#pragma once
// Appenders made by the "AppenderType" of their configuration section.
#include <memory>

#include "appenders/appender.h"
#include "config/config_document.h"

namespace zun {

using AppenderRef = std::shared_ptr<Appender>;

// Creates an unconfigured appender for an "AppenderType" value (compared
// exactly):
//   "File", "SharedFile"  FileAppender (a "SharedFile" section then fails
//                         LoadConfig with RC_APPENDER_TYPE_MISMATCH)
//   "RollingFile"         RollingFileAppender
//   "RollingDateFile"     RollingDateFileAppender
//   "Console"             ConsoleAppender
//   "Null", "Syslog"      NullAppender (a "Syslog" section then fails
//                         LoadConfig with RC_APPENDER_TYPE_MISMATCH)
// Any other value gives RC_APPENDER_NOT_FOUND.
// `logDirectory` is what file appenders resolve relative names against.
// `owner` is not owned and must outlive the appender. RC_OUT_OF_MEMORY.
ResultCode CreateAppender(WStringView appenderType, AppenderOwner* owner, WStringView name,
                          WStringView logDirectory, AppenderRef* out) noexcept;

// Creates a section named after the appender, has the appender save itself
// into it and adds it to `document`. RC_TABLE_ERROR_37 when the document
// already has a section of that name; the appender's SaveConfig failures.
ResultCode ExportAppenderSection(Appender& appender, ConfigDocument& document) noexcept;

}  // namespace zun
