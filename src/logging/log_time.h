// The local time that log lines show, and the wall clock it is read from.
//
// Breaking a clock reading down into calendar fields (localtime_r) costs more
// than the rest of a log call's bookkeeping, and every event needs it. So each
// thread keeps the calendar fields of the last second it saw and breaks a
// reading down again only when its whole second differs; the milliseconds come
// from each reading. The result is the same as breaking down every reading,
// with one difference: a change of the process's time zone (TZ and tzset)
// shows from the next second a thread logs in, not within the current one.
//
// The clock is replaceable so that tests can walk the time across second,
// minute, hour and day boundaries:
//
//   SetLogWallClock([] { return WallClockReading{1735689599, 999'000'000}; });
//   LogTime t = LocalLogTime();   // 23:59:59.999 of the last day of 2024 in UTC
//   SetLogWallClock(nullptr);     // the system clock again
#pragma once

#include <cstdint>

#include "logging/log_record.h"

namespace Zorv {

// A reading of the real-time clock: seconds since 1970-01-01 00:00:00 UTC and
// the nanoseconds into that second (0 to 999,999,999).
struct WallClockReading {
  int64_t seconds;
  int32_t nanoseconds;
};

using LogWallClock = WallClockReading (*)();

// CLOCK_REALTIME.
WallClockReading SystemWallClock();

// Makes LocalLogTime read clock; null restores SystemWallClock. For tests.
void SetLogWallClock(LogWallClock clock);

// The local time now, to the millisecond: the wall clock broken down in the
// process's time zone, through the calling thread's cache.
LogTime LocalLogTime();

// The same fields for one reading, broken down afresh (no cache).
LogTime LocalLogTimeAt(WallClockReading reading);

}  // namespace Zorv
