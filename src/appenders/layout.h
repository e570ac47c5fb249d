#pragma once
// Layouts turn one log record into one line of text for an appender, and
// supply the texts an appender writes when it opens its target (header) and
// before it closes it (footer).
#include <memory>

#include "base/result_code.h"
#include "base/text.h"
#include "config/config_document.h"

namespace zun {

struct LogRecord;

// Values of the "LayoutType" key.
inline constexpr WStringView kLayoutTypeStandard = u"Standard";
inline constexpr WStringView kLayoutTypeCustom = u"Custom";
inline constexpr WStringView kLayoutTypeFw = u"Fw";

// The format a "Fw" layout section stands for.
inline constexpr WStringView kFwLayoutFormat = u"%date %time %hostname %msg";

// A layout, configured from a section whose "Type" is "Layout" and named by
// that section. One layout may serve any number of appenders.
//
// Thread safety: Render, GetHeader and GetFooter only read the layout and may
// run on several threads at once. LoadConfig changes it and runs only while
// no appender uses it (while a configuration is being built).
// Lifetime: owned by the layout table of the configuration; appenders hold a
// reference (LayoutRef) and never configure a layout.
// No operation throws; every failure is a code.
class Layout {
 public:
  // Replaces the content of `out` with the rendered line, without a line
  // terminator. Reuses the capacity of `out`, so a caller that keeps one
  // text per thread allocates only when a line is longer than any before.
  // RC_OUT_OF_MEMORY (then `out` holds partial text to be discarded), or
  // the code of a record whose time cannot be converted.
  virtual ResultCode Render(WString& out, const LogRecord& record) const noexcept = 0;

  // Configures the layout from its section; a later call replaces the whole
  // configuration. RC_LAYOUT_TYPE_MISMATCH when "LayoutType" names another
  // kind of layout; other codes as each layout states.
  virtual ResultCode LoadConfig(const ConfigSection& section) noexcept = 0;

  // Writes "Type", "LayoutType" and the layout's own keys into `section`,
  // which the caller created under Name() (see ExportLayoutSection). The
  // values are stored quoted, in the form configuration text is written in.
  virtual ResultCode SaveConfig(ConfigSection& section) const noexcept = 0;

  virtual ~Layout() = default;

  // Copies the header into `out` when there is one; an empty header leaves
  // `out` as it was. The appender passes an empty text and writes nothing
  // when it stays empty.
  virtual ResultCode GetHeader(WString& out) const noexcept = 0;
  // As GetHeader, for the footer.
  virtual ResultCode GetFooter(WString& out) const noexcept = 0;

  // The section name the layout was created under (may be empty).
  const WString& Name() const noexcept { return name_; }

  Layout(const Layout&) = delete;
  Layout& operator=(const Layout&) = delete;

 protected:
  // Takes over `name`, so creation allocates in one place (the factory).
  explicit Layout(WString&& name) noexcept : name_(std::move(name)) {}

 private:
  WString name_;
};

using LayoutRef = std::shared_ptr<Layout>;

// Creates an unconfigured layout of the kind a "LayoutType" value names:
// "Standard" or "Custom" (compared exactly). RC_LAYOUT_NOT_FOUND for any
// other value ("Fw" included: RewriteFwLayoutSection first);
// RC_OUT_OF_MEMORY.
ResultCode CreateLayout(WStringView layoutType, WStringView name, LayoutRef* out) noexcept;

// Rewrites a "Fw" layout section in place into the custom layout it stands
// for: "LayoutType" becomes "Custom" and a key "Format" with
// kFwLayoutFormat is added. RC_TABLE_ERROR_36 when the section has its own
// "Format" (the section is then left as it was); RC_OUT_OF_MEMORY.
ResultCode RewriteFwLayoutSection(ConfigSection& section) noexcept;

// Creates a section named after the layout, has the layout save itself into
// it and adds it to `document`. RC_TABLE_ERROR_37 when the document already
// has a section of that name; the layout's SaveConfig failures.
ResultCode ExportLayoutSection(const Layout& layout, ConfigDocument& document) noexcept;

}  // namespace zun
