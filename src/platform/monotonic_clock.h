// MonotonicClock: a std::chrono clock over Platform::MonotonicNanoseconds, so
// that job times are typed time points rather than bare numbers.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/clock.h"

namespace Zorv {

struct MonotonicClock {
  using rep = int64_t;
  using period = std::nano;
  using duration = std::chrono::nanoseconds;
  using time_point = std::chrono::time_point<MonotonicClock, duration>;
  static constexpr bool is_steady = true;

  static time_point now() { return time_point(duration(Platform::MonotonicNanoseconds())); }
};

using MonotonicTime = MonotonicClock::time_point;

}  // namespace Zorv
