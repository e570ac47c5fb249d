#pragma once
// Severities: signed 32-bit, larger is more severe, eight named points.
#include <cstdint>

#include "base/text.h"

namespace zun {

using Severity = std::int32_t;

inline constexpr Severity kSeverityAll = INT32_MIN;
inline constexpr Severity kSeverityDebug = 100000;
inline constexpr Severity kSeverityDetail = 150000;
inline constexpr Severity kSeverityInfo = 200000;
inline constexpr Severity kSeverityWarn = 300000;
inline constexpr Severity kSeverityError = 400000;
inline constexpr Severity kSeverityFatal = 500000;
inline constexpr Severity kSeverityOff = INT32_MAX;

// The value of a whole severity name in any letter case, else `fallback`.
Severity SeverityFromText(WStringView text, Severity fallback);
// The upper-case name of a named value; "INFO" for every other value.
const char16_t* SeverityToText(Severity value);

}  // namespace zun
