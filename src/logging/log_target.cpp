#include "logging/log_target.h"

#include <type_traits>

#include "logging/log_category.h"
#include "logging/logger.h"

namespace Zorv {
namespace {

LogTarget* Of(LogTargetInterface* self) {
  return LogTarget::FromTable(self);
}

const LogTargetInterface kTable = {
    [](LogTargetInterface*) -> int32_t { return 1; },
    [](LogTargetInterface* self, int32_t level) { Of(self)->setMinLevel(LogLevel{level}); },
    [](LogTargetInterface* self) { return static_cast<int32_t>(Of(self)->minLevel()); },
    [](LogTargetInterface* self, uint32_t includeLow, uint32_t includeHigh, uint32_t excludeLow,
       uint32_t excludeHigh) {
      Of(self)->setCategories(JoinLogMask(includeLow, includeHigh),
                              JoinLogMask(excludeLow, excludeHigh));
    },
    [](LogTargetInterface* self) { return Of(self)->includeMask(); },
    [](LogTargetInterface* self) { return Of(self)->excludeMask(); },
    [](LogTargetInterface* self) { return Of(self)->className(); },
    [](LogTargetInterface* self, const LogRecord* record) { return Of(self)->lineFormat(*record); },
    [](LogTargetInterface* self) { Of(self)->attach(); },
    [](LogTargetInterface* self) { Of(self)->detach(); },
    [](LogTargetInterface* self) { return Of(self)->isAttached(); },
    // Every target's write goes through its virtual write; the base's takes nothing.
    [](LogTargetInterface* self, const LogRecord* record) { return Of(self)->write(*record); },
};

}  // namespace

LogTarget::LogTarget() : slot_{kTable, this} {}

LogTarget::~LogTarget() {
  leaveLogger();
}

LogTarget* LogTarget::FromTable(LogTargetInterface* table) {
  static_assert(std::is_standard_layout_v<Slot>);
  return reinterpret_cast<Slot*>(table)->owner;
}

void LogTarget::detach() {
  std::lock_guard loggerLock(Logger::Lock());
  std::lock_guard lock(mutex_);
  if (!attached_.load()) return;
  attached_.store(false, std::memory_order_release);
  if (Logger* logger = Logger::Existing()) logger->removeTarget(table());
}

// Unlike detach, also removes a target that was put on the list without the
// mark (LoggerApi addTarget), so that the list never points at a dead target.
// Under the Logger's lock, so it waits for a write in progress.
void LogTarget::leaveLogger() {
  std::lock_guard loggerLock(Logger::Lock());
  std::lock_guard lock(mutex_);
  attached_.store(false, std::memory_order_release);
  if (Logger* logger = Logger::Existing()) logger->removeTarget(table());
}

const char* LogTarget::lineFormat(const LogRecord&) const {
  std::lock_guard lock(mutex_);
  return lineFormat_.c_str();
}

bool LogTarget::write(const LogRecord&) {
  return false;
}

void LogTarget::attach() {
  std::lock_guard loggerLock(Logger::Lock());
  Logger* logger = Logger::Get();
  if (!logger) return;
  std::lock_guard lock(mutex_);
  if (attached_.load()) return;
  if (logger->addTarget(table())) attached_.store(true, std::memory_order_release);
}

void LogTarget::setMinLevel(LogLevel level) {
  std::lock_guard lock(mutex_);
  minLevel_.store(static_cast<int32_t>(level));
}

void LogTarget::setCategories(uint64_t include, uint64_t exclude) {
  std::lock_guard lock(mutex_);
  excludeMask_.store(exclude);
  includeMask_.store(include & ~exclude);
}

void LogTarget::setLineFormat(std::string format) {
  std::lock_guard lock(mutex_);
  lineFormat_ = std::move(format);
}

void LogTarget::Configure(const LogTargetSettings& settings) {
  // Under the Logger's lock no event sees the target half configured.
  std::lock_guard loggerLock(Logger::Lock());
  detach();
  {
    std::lock_guard lock(mutex_);
    setMinLevel(settings.minLevel);
    setCategories(settings.includeMask, settings.excludeMask);
    setLineFormat(settings.lineFormat);
  }
  attach();
}

}  // namespace Zorv
