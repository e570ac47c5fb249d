#include "records/protected_record.h"

#include <new>

#include "platform/clock.h"
#include "platform/process_info.h"
#include "protect/protected_text.h"
#include "records/severity.h"

namespace zun {

ResultCode EncodeMessageText(LogRecord& record) {
  if (record.protectionMode == kProtectNone || record.message.empty()) return RC_OK;
  WString encoded;
  ProtectionMode modeAfter = record.protectionMode;
  const ResultCode rc = MakeProtectedText(record.protectionMode, record.message, encoded, &modeAfter);
  if (Failed(rc)) return rc;
  record.message = std::move(encoded);
  record.protectionMode = modeAfter;
  return RC_OK;
}

ResultCode MakeKeyRecordLine(WString& line) {
  try {
    LogRecord record;
    record.loggerName = u"ZUN.LOG.SM";
    record.flags = 1;
    record.severity = kSeverityAll;
    record.time = SystemTimeNow();
    record.processId = CurrentProcessId();
    record.threadId = CurrentThreadId();
    record.fileId = u"ZUN.LOG.SM";
    ResultCode rc = MakeKeyRecordText(record.message);
    if (Failed(rc)) return rc;
    WString made;
    rc = FormatMessageLine(record, made);
    if (Failed(rc)) return rc;
    line = std::move(made);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
