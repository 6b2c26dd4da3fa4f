#include "logging/logger_api.h"

#include <mutex>

#include "logging/log.h"
#include "logging/log_category.h"
#include "logging/log_line.h"
#include "logging/logger.h"

namespace Zorv {
namespace {

// Runs action on the Logger, creating it when there is none; does nothing
// when it cannot be created. Under the Logger's lock: a release on another
// thread cannot free the Logger while the action uses it.
template <typename Action>
void WithLogger(Action action) {
  std::lock_guard lock(Logger::Lock());
  if (Logger* logger = Logger::Get()) action(*logger);
}

// A built-in target's table; it lives as long as the Logger that owns it.
LogTargetInterface* BuiltIn(LogTarget& (*pick)(Logger&)) {
  LogTargetInterface* table = nullptr;
  WithLogger([&](Logger& l) { table = pick(l).table(); });
  return table;
}

constinit const LoggerApi kLoggerApi = {
    []() -> int32_t { return 1; },
    &Logger::Acquire,
    &Logger::Release,
    [](int32_t level) { WithLogger([&](Logger& l) { l.setLevel(LogLevel{level}); }); },
    []() -> int32_t {
      LogLevel level = LogLevel::Warn;
      WithLogger([&](Logger& l) { level = l.level(); });
      return static_cast<int32_t>(level);
    },
    [](uint32_t low, uint32_t high) {
      WithLogger([&](Logger& l) { l.setSuppressedCategories(JoinLogMask(low, high)); });
    },
    []() -> uint64_t {
      uint64_t mask = kLogXTR;
      WithLogger([&](Logger& l) { mask = l.suppressedCategories(); });
      return mask;
    },
    [] { WithLogger([](Logger& l) { l.mute(); }); },
    [] { WithLogger([](Logger& l) { l.unmute(); }); },
    [] { WithLogger([](Logger& l) { l.setFlag(true); }); },
    [] { WithLogger([](Logger& l) { l.setFlag(false); }); },
    [](LogTargetInterface* target) {
      if (target) WithLogger([&](Logger& l) { l.addTarget(target); });
    },
    [](LogTargetInterface* target) {
      std::lock_guard lock(Logger::Lock());
      if (Logger* logger = Logger::Existing()) logger->removeTarget(target);
    },
    [](const char* name) -> LogTargetInterface* {
      LogTargetInterface* found = nullptr;
      WithLogger([&](Logger& l) { found = l.findTarget(name); });
      return found;
    },
    [] { return BuiltIn([](Logger& l) -> LogTarget& { return l.stdOutTarget(); }); },
    [] { return BuiltIn([](Logger& l) -> LogTarget& { return l.stdErrTarget(); }); },
    [] { return BuiltIn([](Logger& l) -> LogTarget& { return l.debuggerTarget(); }); },
    [](const char* code, uint64_t* mask) {
      const uint64_t registered = RegisterLogCategory(code);
      if (mask) *mask = registered;
    },
    &LogCategoryNames,
    [](char* buffer, size_t size, const char* format, const LogRecord* record) -> size_t {
      if (!record) return FormatLine(buffer, size, format, LogRecord{});
      return FormatLine(buffer, size, format, *record);
    },
    [](int32_t level) { return LogLevelName(LogLevel{level}); },
    &Logger::ProgramName,
    [](LogTime* time) {
      if (time) *time = LocalLogTime();
    },
    [](char* buffer, size_t size, const LogTime* time) -> size_t {
      return time ? FormatTimestamp(buffer, size, *time) : 0;
    },
    [](char* buffer, size_t size, const LogTime* time) -> size_t {
      return time ? FormatFileTimestamp(buffer, size, *time) : 0;
    },
    [](int32_t level, uint32_t maskLow, uint32_t maskHigh, const char* format, va_list args) {
      LogCallV(LogLevel{level}, maskLow, maskHigh, format, args);
    },
};

}  // namespace

const LoggerApi* GetLoggerApi() {
  return &kLoggerApi;
}

}  // namespace Zorv
