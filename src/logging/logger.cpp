#include "logging/logger.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <type_traits>

#include "logging/log.h"
#include "platform/process.h"

namespace Zorv {
namespace {

// Constant-initialised and trivially destructible: usable by static
// constructors and destructors in any order, and nothing to tear down when
// the library is unloaded.
constinit std::recursive_mutex gLock;
static_assert(std::is_trivially_destructible_v<std::recursive_mutex>);

std::atomic<Logger*> gLogger{nullptr};
std::atomic<uint32_t> gReferences{0};

constexpr size_t kProgramPathSize = 1024;
char gProgramPath[kProgramPathSize];
std::atomic<const char*> gProgramName{"<unknown>"};

// The executable does not change while the process runs: its name is read by
// the first Logger and kept, so the text outlives every Logger.
void ReadProgramName() {
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string path = Platform::ExecutablePath();
    if (path.empty()) return;
    const size_t length = std::min(path.size(), kProgramPathSize - 1);
    std::memcpy(gProgramPath, path.data(), length);
    gProgramPath[length] = '\0';
    const char* slash = std::strrchr(gProgramPath, '/');
    gProgramName.store(slash ? slash + 1 : gProgramPath, std::memory_order_release);
  });
}

void ResetFilter() {
  internal::gLogFilter.passLevel.store(std::numeric_limits<int64_t>::min());
  internal::gLogFilter.suppressed.store(0);
}

}  // namespace

std::recursive_mutex& Logger::Lock() {
  return gLock;
}

Logger* Logger::Existing() {
  return gLogger.load(std::memory_order_acquire);
}

Logger* Logger::Get() {
  if (Logger* logger = Existing()) return logger;
  std::lock_guard lock(Lock());
  return CreateLocked();
}

Logger* Logger::CreateLocked() {
  if (Logger* logger = Existing()) return logger;
  Logger* logger = nullptr;
  try {
    logger = new Logger();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  // The filter first: an event that finds the Logger must find its settings.
  logger->publishFilter();
  gLogger.store(logger, std::memory_order_release);
  logger->stdErr_->attach();
  logger->debugger_->attach();
  return logger;
}

void Logger::Acquire() {
  std::lock_guard lock(Lock());
  if (gReferences.fetch_add(1) == 0) CreateLocked();
}

void Logger::Release() {
  std::lock_guard lock(Lock());
  if (gReferences.load() == 0) return;
  if (gReferences.fetch_sub(1) != 1) return;
  DestroyLocked();
}

void Logger::DestroyLocked() {
  Logger* logger = Existing();
  if (!logger) return;
  logger->teardown();
  gLogger.store(nullptr, std::memory_order_release);
  ResetFilter();
  delete logger;
}

namespace {

// A Logger still alive when the library is unloaded (or the process ends) is
// one that a log call created without a reference, or one whose references
// were never given back: nobody can use it any more, so it is freed with the
// library's static objects instead of being left behind in the host.
struct LoggerReaper {
  ~LoggerReaper() {
    std::lock_guard lock(Logger::Lock());
    Logger::DestroyLocked();
    gReferences.store(0);
  }
};
LoggerReaper gReaper;

}  // namespace

const char* Logger::ProgramName() {
  return gProgramName.load(std::memory_order_acquire);
}

Logger::Logger()
    : stdErr_(std::make_unique<StdErrLogTarget>()),
      stdOut_(std::make_unique<StdOutLogTarget>()),
      debugger_(std::make_unique<DebuggerConsoleLogTarget>()) {
  targets_.reserve(8);
  ReadProgramName();
}

Logger::~Logger() = default;

void Logger::teardown() {
  std::vector<LogTargetInterface*> attached;
  attached.swap(targets_);
  for (auto it = attached.rbegin(); it != attached.rend(); ++it) (*it)->detach(*it);
  debugger_->detach();
  debugger_.reset();
  stdOut_->detach();
  stdOut_.reset();
  stdErr_->detach();
  stdErr_.reset();
}

void Logger::publishFilter() {
  internal::gLogFilter.suppressed.store(suppressed_);
  internal::gLogFilter.passLevel.store(muted_ ? std::numeric_limits<int64_t>::max()
                                              : static_cast<int64_t>(level_));
}

void Logger::Dispatch(const LogRecord& record) {
  std::lock_guard lock(Lock());
  Logger* logger = Existing();
  if (!logger) return;
  const int32_t level = static_cast<int32_t>(record.level);
  const uint64_t mask = record.categoryMask;
  // By index: a target may leave the list (or log again) while it writes.
  for (size_t i = 0; i < logger->targets_.size(); ++i) {
    LogTargetInterface* target = logger->targets_[i];
    if (level < target->getMinLevel(target)) continue;
    if (mask != 0) {
      if (mask & target->getExcludeMask(target)) continue;
      const uint64_t include = target->getIncludeMask(target);
      if (include != 0 && (mask & include) == 0) continue;
    }
    target->write(target, &record);
  }
}

void Logger::setLevel(LogLevel level) {
  std::lock_guard lock(Lock());
  level_ = level;
  publishFilter();
}

LogLevel Logger::level() const {
  std::lock_guard lock(Lock());
  return level_;
}

void Logger::setSuppressedCategories(uint64_t mask) {
  std::lock_guard lock(Lock());
  suppressed_ = mask;
  publishFilter();
}

uint64_t Logger::suppressedCategories() const {
  std::lock_guard lock(Lock());
  return suppressed_;
}

void Logger::mute() {
  std::lock_guard lock(Lock());
  muted_ = true;
  publishFilter();
}

void Logger::unmute() {
  std::lock_guard lock(Lock());
  muted_ = false;
  publishFilter();
}

bool Logger::muted() const {
  std::lock_guard lock(Lock());
  return muted_;
}

void Logger::setFlag(bool on) {
  std::lock_guard lock(Lock());
  flag_ = on;
}

bool Logger::flag() const {
  std::lock_guard lock(Lock());
  return flag_;
}

bool Logger::addTarget(LogTargetInterface* target) {
  std::lock_guard lock(Lock());
  try {
    targets_.push_back(target);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void Logger::removeTarget(LogTargetInterface* target) {
  std::lock_guard lock(Lock());
  std::erase(targets_, target);
}

LogTargetInterface* Logger::findTarget(const char* name) const {
  std::lock_guard lock(Lock());
  if (!name) return nullptr;
  for (LogTargetInterface* target : targets_) {
    const char* targetName = target->name(target);
    if (targetName && std::strcmp(targetName, name) == 0) return target;
  }
  return nullptr;
}

std::vector<LogTargetInterface*> Logger::targets() const {
  std::lock_guard lock(Lock());
  return targets_;
}

}  // namespace Zorv
