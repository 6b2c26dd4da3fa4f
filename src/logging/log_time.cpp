#include "logging/log_time.h"

#include <atomic>
#include <ctime>
#include <limits>

namespace Zorv {
namespace {

constinit std::atomic<LogWallClock> gClock{&SystemWallClock};

int32_t Milliseconds(WallClockReading reading) {
  return reading.nanoseconds / 1000000;
}

// The calendar fields of the last whole second this thread broke down.
// Trivially constructible, so reaching it needs no initialisation guard.
struct SecondCache {
  int64_t second = std::numeric_limits<int64_t>::min();
  LogTime time{};
};

constinit thread_local SecondCache tCache;

}  // namespace

WallClockReading SystemWallClock() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return WallClockReading{static_cast<int64_t>(now.tv_sec), static_cast<int32_t>(now.tv_nsec)};
}

void SetLogWallClock(LogWallClock clock) {
  gClock.store(clock ? clock : &SystemWallClock, std::memory_order_relaxed);
}

LogTime LocalLogTimeAt(WallClockReading reading) {
  const time_t seconds = static_cast<time_t>(reading.seconds);
  tm parts{};
  localtime_r(&seconds, &parts);
  return LogTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,        parts.tm_hour,
                 parts.tm_min,         parts.tm_sec,     Milliseconds(reading)};
}

LogTime LocalLogTime() {
  const WallClockReading now = gClock.load(std::memory_order_relaxed)();
  SecondCache& cache = tCache;
  if (now.seconds != cache.second) {
    cache.time = LocalLogTimeAt(now);
    cache.second = now.seconds;
  }
  LogTime time = cache.time;
  time.millisecond = Milliseconds(now);
  return time;
}

}  // namespace Zorv
