#pragma once
// Protection applied to whole records: the message's protected form and the
// key record line that carries the session key into each log file.
#include "base/result_code.h"
#include "base/text.h"
#include "records/log_record.h"

namespace zun {

// Replaces the record's message by the form its protectionMode selects, and
// sets the mode it keeps. Mode 0 or an empty message: nothing to do. On
// failure the record is unchanged and must not be written.
ResultCode EncodeMessageText(LogRecord& record);

// Renders the key record of the current session key (logger "ZUN.LOG.SM",
// severity ALL, message the "c" text) as a standard message line into
// `line`. On failure `line` is left as it was.
ResultCode MakeKeyRecordLine(WString& line);

}  // namespace zun
