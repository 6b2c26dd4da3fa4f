#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "framework/module/app_module.h"
#include "logging/log.h"

namespace Zorv::Client {

namespace {

void LogTimerFailure(const AppModule& module, uint64_t id, const char* what) {
  Log(LogLevel::Error, kLogDBG, "%s: timer callback %llu failed: %s", module.moduleName().c_str(),
      static_cast<unsigned long long>(id), what);
}

}  // namespace

uint64_t AppModule::ScheduleCallback(std::string_view name, std::function<void()> callback,
                                     MonotonicTime when) {
  const double delay = static_cast<double>((when - MonotonicClock::now()).count()) * 1e-9;
  TimerRecord* record = nullptr;
  uint64_t id = 0;
  {
    std::lock_guard lock(timerMutex_);
    id = nextTimerId_++;
    auto owned = std::make_unique<TimerRecord>(TimerRecord{this, id, std::move(callback)});
    record = owned.get();
    timers_.emplace(id, std::move(owned));
  }
  const std::string nameText(name);
  ScheduleCallback(nameText.c_str(), &AppModule::TimerCallback, record, delay > 0 ? delay : 0.0, 0);
  return id;
}

void AppModule::TimerCallback(void* context) {
  auto* record = static_cast<TimerRecord*>(context);
  AppModule* const module = record->module;
  const uint64_t id = record->id;
  // The host calls this directly: nothing may be thrown back to it.
  try {
    record->callback();
  } catch (const std::exception& error) {
    LogTimerFailure(*module, id, error.what());
  } catch (...) {
    LogTimerFailure(*module, id, "unknown exception");
  }
  try {
    std::lock_guard lock(module->timerMutex_);
    module->timers_.erase(id);
  } catch (const std::exception& error) {
    LogTimerFailure(*module, id, error.what());
  }
}

}  // namespace Zorv::Client
