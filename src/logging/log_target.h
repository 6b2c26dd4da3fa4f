// LogTarget: the base of every log output (console streams, the host's log).
//
// A target filters the events that the Logger hands it by its own minimum
// level and category masks, and renders or forwards the ones it takes. The
// Logger reaches targets only through their LogTargetInterface, a table of
// plain C function pointers, so targets of other modules can be attached too.
//
//   StdErrLogTarget target;
//   target.Configure({LogLevel::Okay, kLogGEN, 0, "#L| #M"});   // attached from now on
//   ...
//   target.detach();          // or let the destructor do it
//
// Promises:
// - The Logger's list and its attach mark change only under the Logger's lock,
//   then the target's lock (always in that order); a write runs under both.
// - A target that is destroyed leaves the Logger's list, however it got there.
// - The include mask never holds a bit of the exclude mask once set through
//   setCategories or Configure.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "logging/log_level.h"
#include "logging/log_record.h"

namespace Zorv {

// The C face of a target. Every entry takes the table itself first; the
// target is found from it. Entries go only at the end.
struct LogTargetInterface {
  int32_t (*version)(LogTargetInterface* self);  // 1
  void (*setMinLevel)(LogTargetInterface* self, int32_t level);
  int32_t (*getMinLevel)(LogTargetInterface* self);
  // Stores the exclude mask and the include mask without the excluded bits.
  void (*setCategories)(LogTargetInterface* self, uint32_t includeLow, uint32_t includeHigh,
                        uint32_t excludeLow, uint32_t excludeHigh);
  uint64_t (*getIncludeMask)(LogTargetInterface* self);
  uint64_t (*getExcludeMask)(LogTargetInterface* self);
  const char* (*name)(LogTargetInterface* self);
  const char* (*lineFormat)(LogTargetInterface* self, const LogRecord* record);
  void (*attach)(LogTargetInterface* self);
  void (*detach)(LogTargetInterface* self);
  bool (*isAttached)(LogTargetInterface* self);
  bool (*write)(LogTargetInterface* self, const LogRecord* record);
};
static_assert(sizeof(LogTargetInterface) == 12 * sizeof(void*), "the table has 12 entries");

// The settings Configure applies in one step.
struct LogTargetSettings {
  LogLevel minLevel = LogLevel::Warn;
  uint64_t includeMask = 0;
  uint64_t excludeMask = 0;
  std::string lineFormat;
};

class LogTarget {
 public:
  LogTarget();
  virtual ~LogTarget();
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;

  // If attached: clears the mark and removes every occurrence of the target
  // from the Logger's list (when a Logger exists).
  virtual void detach();
  virtual const char* className() const { return "LogTarget"; }
  // The format to render record with; the base ignores the record. The text
  // stays valid until the format is changed.
  virtual const char* lineFormat(const LogRecord& record) const;
  // Takes one event that passed the filters. The base writes nothing.
  virtual bool write(const LogRecord& record);
  virtual void flush() {}

  // If not attached: sets the mark and appends the target to the Logger's
  // list, creating the Logger when there is none.
  void attach();
  bool isAttached() const { return attached_.load(std::memory_order_acquire); }

  void setMinLevel(LogLevel level);
  LogLevel minLevel() const { return static_cast<LogLevel>(minLevel_.load()); }
  // Stores exclude unchanged and include without the bits of exclude.
  void setCategories(uint64_t include, uint64_t exclude);
  uint64_t includeMask() const { return includeMask_.load(); }
  uint64_t excludeMask() const { return excludeMask_.load(); }
  void setLineFormat(std::string format);

  // Detaches, applies every setting, attaches again.
  void Configure(const LogTargetSettings& settings);

  LogTargetInterface* table() { return &slot_.table; }
  // The target that owns table, which must be the table of a LogTarget.
  static LogTarget* FromTable(LogTargetInterface* table);

 protected:
  // Guards the target's settings and its output.
  std::recursive_mutex& mutex() const { return mutex_; }

  // Leaves the Logger's list, marked or not. The base destructor does it too,
  // but a target whose write uses its own members calls it first thing in its
  // destructor, so that no write runs while those members are destroyed.
  void leaveLogger();

 private:
  // The table first, so that a pointer to it is a pointer to the slot.
  struct Slot {
    LogTargetInterface table;
    LogTarget* owner;
  };

  Slot slot_;
  std::atomic<bool> attached_{false};
  mutable std::recursive_mutex mutex_;
  std::atomic<int32_t> minLevel_{static_cast<int32_t>(LogLevel::Warn)};
  std::atomic<uint64_t> includeMask_{0};
  std::atomic<uint64_t> excludeMask_{0};
  std::string lineFormat_ = "#D| #L| #G| #M";
};

}  // namespace Zorv
