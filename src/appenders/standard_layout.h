#pragma once
// The standard layout: the record's standard message line, no header and no
// footer.
#include "appenders/layout.h"

namespace zun {

// Keys: "LayoutType" may be absent; when present it must be "Standard".
// Saves "Type" = "Layout" and "LayoutType" = "Standard".
// Stateless beyond its name, so every operation is safe on any thread.
class StandardLayout final : public Layout {
 public:
  explicit StandardLayout(WString&& name) noexcept : Layout(std::move(name)) {}

  // `out` becomes FormatMessageLine(record); for a time that cannot be
  // converted it is left empty and the conversion's code is returned.
  ResultCode Render(WString& out, const LogRecord& record) const noexcept override;
  ResultCode LoadConfig(const ConfigSection& section) noexcept override;
  ResultCode SaveConfig(ConfigSection& section) const noexcept override;
  // No header and no footer: `out` is left as it was.
  ResultCode GetHeader(WString& out) const noexcept override;
  ResultCode GetFooter(WString& out) const noexcept override;
};

}  // namespace zun
