// Clocks of the process: wall-clock local time, a monotonic counter and the
// system clock in the 100-ns ticks that replay timestamps use.
#pragma once

#include <cstdint>

namespace Zorv::Platform {

// Local calendar time down to the millisecond (month 1-12, day 1-31).
struct LocalTime {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t millisecond = 0;
};

// The current local time.
LocalTime LocalTimeNow();

// Nanoseconds of a clock that never goes back (CLOCK_MONOTONIC); its origin is
// arbitrary, only differences mean anything.
int64_t MonotonicNanoseconds();

// The system clock in 100-ns ticks since 1970-01-01 00:00:00 UTC.
int64_t SystemTime100ns();

}  // namespace Zorv::Platform
