#include "logging/log.h"

#include <limits>

#include "logging/log_line.h"
#include "logging/log_message.h"
#include "logging/logger.h"

namespace Zorv {

constinit internal::LogFilter internal::gLogFilter{std::numeric_limits<int64_t>::min(), 0};

void LogV(LogLevel level, uint64_t categoryMask, const char* format, va_list args) {
  if (!LogMayPass(level, categoryMask)) return;
  if (!Logger::Existing()) {
    if (!Logger::Get()) return;
    // The filter now holds the new Logger's settings.
    if (!LogMayPass(level, categoryMask)) return;
  }
  char message[kLogLineSize];
  message[0] = '\0';
  if (format) FormatLogMessage(message, sizeof message, format, args);
  LogRecord record{LocalLogTime(), level, categoryMask, message};
  Logger::Dispatch(record);
}

void Log(LogLevel level, uint64_t categoryMask, const char* format, ...) {
  // Tested here already so that a dropped event costs no argument list.
  if (!LogMayPass(level, categoryMask)) return;
  va_list args;
  va_start(args, format);
  LogV(level, categoryMask, format, args);
  va_end(args);
}

void LogCallV(LogLevel level, uint32_t maskLow, uint32_t maskHigh, const char* format,
              va_list args) {
  LogV(level, JoinLogMask(maskLow, maskHigh), format, args);
}

void LogCall(LogLevel level, uint32_t maskLow, uint32_t maskHigh, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogCallV(level, maskLow, maskHigh, format, args);
  va_end(args);
}

}  // namespace Zorv
