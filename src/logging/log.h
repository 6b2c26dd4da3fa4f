// The log call: how every part of the plug-in reports what it does.
//
//   Log(LogLevel::Warn, kLogDBG, "MetadataStore: no record for '%llu'", gameId);
//
// An event is dropped before anything is formatted when the Logger is muted,
// when its level is below the Logger's global minimum level, or when its
// category mask shares a bit with the suppressed mask: that test reads two
// atomics and takes no lock. An event that passes is formatted with the printf
// rules into a 4096-byte buffer on the stack (cut at 4095 characters), stamped
// with the local time and handed to the attached targets (logger.h), each of
// which applies its own filters. The first log call creates the Logger when
// none exists. Nothing is reported back and nothing is allocated: events that
// are filtered out, too long or taken by no target are dropped or cut silently.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "logging/log_category.h"
#include "logging/log_level.h"

namespace Zorv {

struct LoggerApi;

// The log call as the C boundary has it: the mask in two 32-bit halves, low first.
void LogCall(LogLevel level, uint32_t maskLow, uint32_t maskHigh, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void LogCallV(LogLevel level, uint32_t maskLow, uint32_t maskHigh, const char* format, va_list args)
    __attribute__((format(printf, 4, 0)));

// The form C++ code uses.
void Log(LogLevel level, uint64_t categoryMask, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void LogV(LogLevel level, uint64_t categoryMask, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

// The Logger's operations as a table of C function pointers (logger_api.h).
const LoggerApi* GetLoggerApi();

namespace internal {

// The Logger's filter settings, mirrored for the lock-free test of LogMayPass.
struct LogFilter {
  // Events below this level are dropped. It is the Logger's global level,
  // above every 32-bit level while muted, and below every level while no
  // Logger exists (so that the event goes on and creates one).
  std::atomic<int64_t> passLevel;
  std::atomic<uint64_t> suppressed;
};

extern LogFilter gLogFilter;

}  // namespace internal

// False when the Logger would drop the event whatever its targets say: for
// callers that want to skip costly arguments. Log makes the same test first.
inline bool LogMayPass(LogLevel level, uint64_t categoryMask) {
  return static_cast<int64_t>(level) >=
             internal::gLogFilter.passLevel.load(std::memory_order_relaxed) &&
         (categoryMask & internal::gLogFilter.suppressed.load(std::memory_order_relaxed)) == 0;
}

}  // namespace Zorv
