#pragma once
// The library's clock as the hosts of rolled-log tests set it:
// ZUNLOGX_TEST_CLOCK="<start> <anchor> <speed>" shows <start> (100-ns units
// since 1601) at CLOCK_REALTIME <anchor> (ns) and runs <speed> times as
// fast, the same in every host of a test.
#include <time.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"

namespace zun::test {

inline std::uint64_t RealNs(clockid_t id) {
  timespec ts;
  clock_gettime(id, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(ts.tv_nsec);
}

// Puts the moved clock in use when the variable is set and well formed.
inline void TakeTestClock() {
  static FileTime start = 0;
  static std::uint64_t anchor = 0, speed = 1;
  static const ClockSource moved{[] {
                                   const std::uint64_t real = RealNs(CLOCK_REALTIME);
                                   return start + (real > anchor ? (real - anchor) / 100 * speed : 0);
                                 },
                                 [] { return RealNs(CLOCK_MONOTONIC) / 1000000; }};
  const char* c = std::getenv("ZUNLOGX_TEST_CLOCK");
  if (c != nullptr && std::sscanf(c, "%" SCNu64 " %" SCNu64 " %" SCNu64, &start, &anchor, &speed) == 3) {
    SetClockSource(&moved);
  }
}

}  // namespace zun::test
