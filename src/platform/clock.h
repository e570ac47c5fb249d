#pragma once
// The one clock of the library. Tests replace it to move "now" (day changes,
// file ages) without waiting.
#include <cstdint>

namespace zun {

// 100-ns units since 1601-01-01 UTC.
using FileTime = std::uint64_t;
inline constexpr FileTime kFileTimeUnixEpoch = 116444736000000000ull;

// CLOCK_REALTIME (vDSO) as a FileTime, unless replaced.
FileTime SystemTimeNow();
// CLOCK_MONOTONIC in milliseconds, unless replaced.
std::uint64_t TickCountMs();

struct ClockSource {
  FileTime (*systemTime)();
  std::uint64_t (*tickCountMs)();
};
// Replaces the clock for the whole process; null restores the system clock.
void SetClockSource(const ClockSource* source);

struct CalendarTime {
  int year, month, day, hour, minute, second, millisecond;
  int dayOfWeek;  // 0 = Sunday
};
// RC_INVALID_TIME for times beyond year 30827.
std::uint32_t FileTimeToCalendar(FileTime time, CalendarTime* out);
// RC_INVALID_TIME for a year before 1601 or a zero month or day.
std::uint32_t CalendarToFileTime(const CalendarTime& calendar, FileTime* out);

}  // namespace zun
