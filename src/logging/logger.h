// Logger: the process-wide dispatcher of log events.
//
// One Logger exists at a time. It is created by the first Acquire or the first
// log call, whichever comes first, and destroyed when Release brings the
// reference count back to 0; a later log call creates a fresh one with the
// default settings (global level WARN, XTR suppressed, not muted). On creation
// it builds its three console targets and attaches standard error, then the
// debugger target.
//
// The Logger's lock is one recursive mutex that outlives every Logger: it
// guards the current Logger's existence, its target list and its settings,
// and it is held while targets write. Whoever also takes a target's lock takes
// the Logger's lock first. Code that uses the Logger object holds that lock
// (or a reference) for as long as it does, so a Release on another thread
// never frees the Logger under it. A Logger still alive when the library's
// static objects are destroyed (unload or exit) is freed with them.
//
// Most code never touches this class: it logs through Log() (log.h), and other
// modules reach the Logger through its LoggerApi table (logger_api.h).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "logging/console_log_targets.h"
#include "logging/log_category.h"
#include "logging/log_record.h"
#include "logging/log_target.h"

namespace Zorv {

class Logger {
 public:
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // The current Logger, created without a reference when there is none; null
  // only when creating it failed. The pointer stays valid while the caller
  // holds the Logger's lock or a reference (Acquire); without either, a
  // Release on another thread may destroy the Logger at any moment.
  static Logger* Get();
  // The current Logger, or null; valid under the same terms as Get.
  static Logger* Existing();
  // Counts a reference; the first one creates the Logger when there is none.
  static void Acquire();
  // Drops a reference; dropping the last one destroys the Logger. A release
  // without a matching acquire does nothing.
  static void Release();
  // Destroys the current Logger, if any, whatever its references.
  // REQUIRES: the Logger's lock is held.
  static void DestroyLocked();
  static std::recursive_mutex& Lock();

  // The executable's file name, "<unknown>" until the first Logger is created
  // (or when the path cannot be read). The text lives as long as the process.
  static const char* ProgramName();

  // Hands record to every attached target that takes it (by the target's
  // minimum level, then its exclude and include masks when the record has
  // categories), in list order, under the Logger's lock. The Logger's own
  // filters are the caller's business (see LogV).
  static void Dispatch(const LogRecord& record);

  void setLevel(LogLevel level);
  LogLevel level() const;
  void setSuppressedCategories(uint64_t mask);
  uint64_t suppressedCategories() const;
  void mute();
  void unmute();
  bool muted() const;
  // An on/off flag kept for the LoggerApi; dispatch does not read it.
  void setFlag(bool on);
  bool flag() const;

  // Appends target, duplicates included. False when memory ran out.
  bool addTarget(LogTargetInterface* target);
  // Removes every occurrence of target, keeping the order of the others.
  void removeTarget(LogTargetInterface* target);
  // The first target in the list whose class name equals name, or null.
  LogTargetInterface* findTarget(const char* name) const;
  std::vector<LogTargetInterface*> targets() const;

  StdErrLogTarget& stdErrTarget() { return *stdErr_; }
  StdOutLogTarget& stdOutTarget() { return *stdOut_; }
  DebuggerConsoleLogTarget& debuggerTarget() { return *debugger_; }

 private:
  Logger();
  ~Logger();
  static Logger* CreateLocked();
  void teardown();
  void publishFilter();

  std::vector<LogTargetInterface*> targets_;
  bool muted_ = false;
  bool flag_ = false;
  LogLevel level_ = LogLevel::Warn;
  uint64_t suppressed_ = kLogXTR;
  std::unique_ptr<StdErrLogTarget> stdErr_;
  std::unique_ptr<StdOutLogTarget> stdOut_;
  std::unique_ptr<DebuggerConsoleLogTarget> debugger_;
};

// Holds one reference to the Logger for as long as it lives, so the Logger
// and its settings outlive the holder (the module base holds one).
class LoggerReference {
 public:
  LoggerReference() { Logger::Acquire(); }
  ~LoggerReference() { Logger::Release(); }
  LoggerReference(const LoggerReference&) = delete;
  LoggerReference& operator=(const LoggerReference&) = delete;
};

}  // namespace Zorv
