#pragma once
// The configuration model: what a configuration document builds in the log
// system. Each section names one layout, appender or logger; applying a
// document creates the objects that are missing and reconfigures, in place,
// the ones that exist, found by name. Nothing is removed by applying.
#include <cstdint>
#include <vector>

#include "appenders/appender_factory.h"
#include "appenders/layout.h"
#include "base/result_code.h"
#include "base/text.h"
#include "config/config_document.h"

namespace zun {

class LogSystem;

// Layouts and appenders built by configuration, by section name. Guarded by
// the log system lock; the objects live until the log system is reset or
// destroyed, so appenders may keep plain pointers to layouts and loggers to
// appenders.
struct AppliedConfiguration {
  ConfigTable<LayoutRef> layouts;
  ConfigTable<AppenderRef> appenders;
};

// The layout every appender without a "Layout" key uses.
inline constexpr WStringView kDefaultLayoutName = u"defaultLayout";
// The asynchronous queue bound, in bytes, of a root section without
// "MaxQueueSize".
inline constexpr std::uint32_t kDefaultMaxQueueSize = 0x2000000;

// The lenient number of configuration values: empty is 0; a leading "-" is
// RC_INVALID_PARAMETER; "0x"/"0X" followed by at least one character reads
// base 16, anything else base 10. Digits ("0"-"9", then letters for 10 and
// up) are taken until one is not a digit of the base or would carry the
// value past 64 bits; the low 32 bits of what was read are the result.
ResultCode ParseNumber32(WStringView text, std::uint32_t* value) noexcept;

// An appender name list: cut at every "," and ";", each piece trimmed, an
// empty piece being a name too. Blanks do not separate names.
ResultCode SplitAppenderNames(WStringView value, std::vector<WString>* names) noexcept;

// Applies `document` to the log system under its lock: every section is
// copied with its values expanded (a failure here configures nothing), then
// layouts, appenders and loggers are configured in that order, each kind in
// section-name order with the root logger first. The first failure ends the
// run and is returned; what was configured before it stays. `logFolder` is
// where new file appenders resolve relative file names.
//
// Concurrency: records may be logged meanwhile. A layout is reconfigured
// under the locks of the appenders that render with it, an appender under
// its own lock, and a logger's appender list is replaced as a whole under
// the logger's lock, so every record is written with either the old or the
// new settings.
ResultCode ApplyDocument(LogSystem& system, const ConfigDocument& document, WStringView logFolder) noexcept;

}  // namespace zun
