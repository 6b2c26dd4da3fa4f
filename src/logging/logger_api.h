// LoggerApi: the Logger's operations as one table of C function pointers, for
// code on the other side of the C boundary (other modules, the host's log
// outlet). Entries keep their positions; new ones only ever go at the end.
//
//   const LoggerApi* api = GetLoggerApi();
//   api->acquire();                       // the Logger lives at least until release
//   api->setLevel(0);                     // let OKAY events through
//   api->addTarget(myTarget.table());
//   ...
//   api->removeTarget(myTarget.table());
//   api->release();
//
// Entries that act on the Logger create it (without a reference) when there is
// none, except release and removeTarget, and use it under the Logger's lock, so
// any thread may call them while others acquire and release. The tables of the
// built-in targets live as long as the Logger that answered them: hold a
// reference while using them. Nothing in the table throws.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "logging/log_record.h"
#include "logging/log_target.h"

namespace Zorv {

struct LoggerApi {
  int32_t (*version)();  // 1
  void (*acquire)();
  void (*release)();
  void (*setLevel)(int32_t level);
  int32_t (*getLevel)();
  void (*setSuppressedCategories)(uint32_t low, uint32_t high);
  uint64_t (*getSuppressedCategories)();
  void (*mute)();
  void (*unmute)();
  void (*setFlag)();
  void (*clearFlag)();
  // Appends target to the Logger's list (duplicates included) without
  // setting its attach mark.
  void (*addTarget)(LogTargetInterface* target);
  // Removes every occurrence of target, keeping the order of the others.
  void (*removeTarget)(LogTargetInterface* target);
  // The first target in the list with this class name (exact), or null.
  LogTargetInterface* (*findTarget)(const char* name);
  LogTargetInterface* (*stdOutTarget)();
  LogTargetInterface* (*stdErrTarget)();
  LogTargetInterface* (*debuggerTarget)();
  // RegisterLogCategory; writes the category's mask to *mask.
  void (*registerCategory)(const char* code, uint64_t* mask);
  // LogCategoryNames, FormatLine, LogLevelName, Logger::ProgramName,
  // LocalLogTime, FormatTimestamp and FormatFileTimestamp.
  size_t (*categoryNames)(char* buffer, size_t size, uint64_t mask);
  size_t (*formatLine)(char* buffer, size_t size, const char* format, const LogRecord* record);
  const char* (*levelName)(int32_t level);
  const char* (*programName)();
  void (*localTime)(LogTime* time);
  size_t (*formatTimestamp)(char* buffer, size_t size, const LogTime* time);
  size_t (*formatFileTimestamp)(char* buffer, size_t size, const LogTime* time);
  // The log call (LogCallV).
  void (*log)(int32_t level, uint32_t maskLow, uint32_t maskHigh, const char* format, va_list args);
};

static_assert(sizeof(LoggerApi) == 26 * sizeof(void*), "the table has 26 entries");

const LoggerApi* GetLoggerApi();

}  // namespace Zorv
