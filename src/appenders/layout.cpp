#include "appenders/layout.h"

#include <new>

#include "appenders/custom_layout.h"
#include "appenders/standard_layout.h"

namespace zun {

ResultCode CreateLayout(WStringView layoutType, WStringView name, LayoutRef* out) noexcept {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  try {
    if (layoutType == kLayoutTypeStandard) {
      *out = std::make_shared<StandardLayout>(WString(name));
    } else if (layoutType == kLayoutTypeCustom) {
      *out = std::make_shared<CustomLayout>(WString(name));
    } else {
      return RC_LAYOUT_NOT_FOUND;
    }
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode RewriteFwLayoutSection(ConfigSection& section) noexcept {
  if (section.HasKey(u"Format")) return RC_TABLE_ERROR_36;
  ConfigKeyRef format;
  ResultCode rc = ConfigKey::Create(u"Format", &format);
  if (Succeeded(rc)) rc = format->SetPlainValue(kFwLayoutFormat);
  if (Failed(rc)) return rc;

  ConfigKeyRef type;
  rc = section.FindKey(u"LayoutType", &type);
  if (rc == RC_ITEM_NOT_PRESENT) {
    rc = ConfigKey::Create(u"LayoutType", &type);
    if (Succeeded(rc)) rc = type->SetPlainValue(kLayoutTypeCustom);
    if (Succeeded(rc)) rc = section.AddKey(type);
  } else if (Succeeded(rc)) {
    rc = type->SetPlainValue(kLayoutTypeCustom);
  }
  if (Failed(rc)) return rc;
  return section.AddKey(std::move(format));
}

ResultCode ExportLayoutSection(const Layout& layout, ConfigDocument& document) noexcept {
  ConfigSectionRef section;
  ResultCode rc = ConfigSection::Create(layout.Name(), &section);
  if (Succeeded(rc)) rc = layout.SaveConfig(*section);
  if (Succeeded(rc)) rc = document.AddSection(std::move(section));
  return rc;
}

}  // namespace zun
