#include "appenders/standard_layout.h"

#include <new>

#include "platform/names.h"
#include "records/log_record.h"

namespace zun {

namespace {

// Room for the fixed parts of the line: brackets, severity, timestamp, the
// "PID:" "THID:" "ID:" "MSG:" labels and five numbers of up to 11 digits.
constexpr std::size_t kFixedLineChars = 128;

}  // namespace

ResultCode StandardLayout::Render(WString& out, const LogRecord& record) const noexcept {
  out.clear();
  try {
    // One growth at most for a cold buffer; none once it has held a line as
    // long as this one.
    out.reserve(kFixedLineChars + record.loggerName.size() + GetCachedHostName().size() +
                record.fileId.size() + record.revisionText.size() + record.message.size());
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  return FormatMessageLine(record, out);
}

ResultCode StandardLayout::LoadConfig(const ConfigSection& section) noexcept {
  try {
    WString type;
    const ResultCode rc = section.GetValue(u"LayoutType", &type);
    if (rc == RC_ITEM_NOT_PRESENT) return RC_OK;
    if (Failed(rc)) return rc;
    return type == kLayoutTypeStandard ? RC_OK : RC_LAYOUT_TYPE_MISMATCH;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode StandardLayout::SaveConfig(ConfigSection& section) const noexcept {
  ResultCode rc = section.SetValue(u"Type", u"Layout");
  if (Succeeded(rc)) rc = section.SetValue(u"LayoutType", kLayoutTypeStandard);
  return rc;
}

ResultCode StandardLayout::GetHeader(WString&) const noexcept { return RC_OK; }

ResultCode StandardLayout::GetFooter(WString&) const noexcept { return RC_OK; }

}  // namespace zun
