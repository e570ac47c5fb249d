#include "platform/clock.h"

#include <atomic>
#include <ctime>

#include "base/result_code.h"

namespace zun {

namespace {

std::atomic<const ClockSource*> gSource{nullptr};

FileTime RealSystemTime() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return kFileTimeUnixEpoch + static_cast<FileTime>(ts.tv_sec) * 10000000ull +
         static_cast<FileTime>(ts.tv_nsec) / 100;
}

// The coarse clock: milliseconds are all a tick count promises, and it
// costs a few nanoseconds where the fine one costs tens.
std::uint64_t RealTickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000ull + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000;
}

// Days since 1601-01-01 of a civil date, and back (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468 + 134774;  // 134774: 1601 to 1970
}

void CivilFromDays(std::int64_t days1601, int& y, int& m, int& d) {
  const std::int64_t z = days1601 - 134774 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

}  // namespace

FileTime SystemTimeNow() {
  const ClockSource* source = gSource.load(std::memory_order_acquire);
  return source ? source->systemTime() : RealSystemTime();
}

std::uint64_t TickCountMs() {
  const ClockSource* source = gSource.load(std::memory_order_acquire);
  return source ? source->tickCountMs() : RealTickCount();
}

void SetClockSource(const ClockSource* source) { gSource.store(source, std::memory_order_release); }

std::uint32_t FileTimeToCalendar(FileTime time, CalendarTime* out) {
  constexpr FileTime kMax = 0x7FFFFFFFFFFFFFFFull;  // the system's limit (year 30828)
  if (time > kMax) return RC_INVALID_TIME;
  const std::uint64_t ms = time / 10000;
  const std::int64_t days = static_cast<std::int64_t>(ms / 86400000ull);
  const std::uint64_t msOfDay = ms % 86400000ull;
  CivilFromDays(days, out->year, out->month, out->day);
  out->hour = static_cast<int>(msOfDay / 3600000);
  out->minute = static_cast<int>(msOfDay / 60000 % 60);
  out->second = static_cast<int>(msOfDay / 1000 % 60);
  out->millisecond = static_cast<int>(msOfDay % 1000);
  out->dayOfWeek = static_cast<int>((days + 1) % 7);  // 1601-01-01 was a Monday
  return 0;
}

std::uint32_t CalendarToFileTime(const CalendarTime& c, FileTime* out) {
  if (c.year < 1601 || c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour < 0 || c.hour > 23 ||
      c.minute < 0 || c.minute > 59 || c.second < 0 || c.second > 59 || c.millisecond < 0 ||
      c.millisecond > 999)
    return RC_INVALID_TIME;
  const std::int64_t days =
      DaysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day));
  const std::uint64_t ms = static_cast<std::uint64_t>(days) * 86400000ull + c.hour * 3600000ull +
                           c.minute * 60000ull + c.second * 1000ull +
                           static_cast<std::uint64_t>(c.millisecond);
  *out = ms * 10000;
  return 0;
}

}  // namespace zun
