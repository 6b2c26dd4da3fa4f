#include "logging/console_log_targets.h"

#include <cstdio>
#include <mutex>

#include "logging/log_category.h"
#include "logging/log_line.h"

namespace Zorv {

bool BaseConsoleLogTarget::write(const LogRecord& record) {
  std::lock_guard lock(mutex());
  char line[kLogLineSize];
  const size_t length = FormatLine(line, sizeof line, lineFormat(record), record);
  output(line, length);
  return true;
}

StdErrLogTarget::StdErrLogTarget() {
  setLineFormat("#E(#T): #L| #M");
  setCategories(kLogDBG, kLogGEN);
}

void StdErrLogTarget::output(const char* line, size_t length) {
  std::fwrite(line, 1, length, stderr);
}

void StdErrLogTarget::flush() {
  std::lock_guard lock(mutex());
  std::fflush(stderr);
}

StdOutLogTarget::StdOutLogTarget() {
  setLineFormat("#M");
  setCategories(kLogGEN, kLogDBG);
}

void StdOutLogTarget::output(const char* line, size_t length) {
  std::fwrite(line, 1, length, stdout);
  if (flushAfterWrite_.load() == 1) std::fflush(stdout);
}

void StdOutLogTarget::flush() {
  std::lock_guard lock(mutex());
  std::fflush(stdout);
}

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget() {
  setLineFormat("#E(#T): #L| #M");
  setCategories(kLogDBG, 0);
}

bool DebuggerConsoleLogTarget::write(const LogRecord&) {
  return true;
}

}  // namespace Zorv
