// LogRecord: what a log target receives for one event.
//
// Plain C-compatible data: records cross the C boundary to targets of other
// modules. The message points into the caller's buffer and is valid only for
// the duration of the write call that receives the record.
#pragma once

#include <cstdint>

#include "logging/log_level.h"

namespace Zorv {

// Local calendar time (month 1-12, day 1-31).
struct LogTime {
  int32_t year;
  int32_t month;
  int32_t day;
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t millisecond;
};

struct LogRecord {
  LogTime time;
  LogLevel level;  // a signed 32-bit number on the C side
  uint64_t categoryMask;
  const char* message;  // zero-terminated, at most 4095 characters
};

}  // namespace Zorv
