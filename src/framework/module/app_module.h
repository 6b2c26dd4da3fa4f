// AppModule: the base of every module that a host loads. It holds the module's
// identity, registry and host connection, forwards every host call through
// its virtual slots (so tests can stand in for the host), and carries the
// framework's operations: host calls, jobs and waits, telemetry.
//
// Lifecycle: constructed by the entry function; Register (registration.h)
// checks the host version, fills identity and tags, calls RegisterApi and
// answers the host; Initialize keeps the HostApi and calls Start; Shutdown
// sets finalizing, calls UnregisterAll and destroys the module.
//
// Threading: the host never runs two callbacks of one module at a time. Only
// the timer table (timerMutex_) and the service-proxy tables carry locks.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/binding_property.h"
#include "binding/static_type.h"
#include "framework/hostapi/failure.h"
#include "framework/hostapi/maybe_type.h"
#include "framework/module/plugin_identity.h"
#include "framework/module/plugin_version.h"
#include "platform/monotonic_clock.h"
#include "zorv/plugin_abi.h"

namespace Zorv {
class TypeRegistry;
}

namespace Zorv::Client {

class ApiRegistry;
class TelemetrySender;
class PluginLogTarget;
struct HostRequest;
struct HostResponse;

// The two-operation event-source interface under every module.
class EventSource {
 public:
  virtual void Subscribe(const std::string& resource);
  virtual void Unsubscribe(const std::string& resource);

 protected:
  ~EventSource() = default;
};

class AppModule : public EventSource {
 public:
  // Creates the registry with the built-in and help types and sets the
  // callbacks; the identity stays empty until Register.
  AppModule();
  AppModule(const AppModule&) = delete;
  AppModule& operator=(const AppModule&) = delete;

  // ---- Virtual slots, in order after Subscribe and Unsubscribe --------------------------------
  virtual ~AppModule();
  // Unsubscribes every handled event and clears the handler tables (timers
  // and subscription counts stay).
  virtual void UnregisterAll();
  // Thin forwarders to the HostFunctions entries 0 to 8. REQUIRES: Initialize ran.
  virtual void CallFunction(CallResult* result, const CallRecord* call);
  virtual void SendRequest(const HostRequestRecord* request, HostResponseRecord* response);
  virtual void SendEvent(const EventRecord* event);
  virtual void SubscribeEvent(const char* name, uint32_t hostHandle, HostEventCallback callback,
                              void* context, uint32_t flag);
  virtual void UnsubscribeEvent(const char* name, uint32_t hostHandle);
  virtual void ScheduleCallback(const char* name, HostTimerCallback callback, void* context,
                                double delaySeconds, uint32_t zero);
  virtual void YieldToHost();
  virtual void BeginWait(const std::string& description);
  virtual void EndWait();
  // A concrete module's own slots.
  virtual void RegisterApi() = 0;
  virtual bool Start() = 0;

  // ---- Host calls (host_call.h, host_request.h) ------------------------------------------------
  // Call<void>: success or failure only. Call<BindingProperty> (the default):
  // the result as a dynamic value. Call<T>: the result converted to T with
  // the registry. Each argument is converted with the registry and sent as
  // one positional argument, in order.
  template <typename T = BindingProperty, typename... Args>
  MaybeType<Failure, T> Call(uint32_t method, std::string_view url, const Args&... arguments);
  // The untyped core of Call: sends already converted arguments.
  MaybeType<Failure, BindingProperty> CallWithProperties(uint32_t method, std::string_view url,
                                                         const BindingProperty* arguments,
                                                         size_t count, bool wantResult);
  HostResponse SendHttpRequest(const HostRequest& request);
  static Failure MakeNotFound(std::string_view message);

  // ---- Jobs and waits (job_scheduler.cpp, await.h) -----------------------------------------------
  // Hands callback to the host, due at `when`; returns the timer id (from 1).
  uint64_t ScheduleCallback(std::string_view name, std::function<void()> callback,
                            MonotonicTime when);
  // Waits for the future by yielding to the host; aborts on a future without state.
  template <typename T>
  T Await(std::future<T> future);
  // BeginWait("Wait: yield"), YieldToHost, EndWait.
  void Yield();

  // ---- State ----------------------------------------------------------------------------------
  ApiRegistry& apiRegistry() { return *apiRegistry_; }
  TypeRegistry& registry();
  const HostApi* hostApi() const { return hostApi_; }
  uint32_t hostHandle() const { return hostHandle_; }
  const std::string& moduleName() const { return moduleName_; }
  const std::string& userAgent() const { return userAgent_; }
  TelemetrySender* telemetrySender() const { return telemetrySender_.get(); }
  bool finalizing() const { return finalizing_; }
  const PluginVersion& hostVersion() const { return hostVersion_; }
  const PluginIdentity& identity() const { return identity_; }
  const std::string& typePrefix() const { return typePrefix_; }
  const std::vector<std::string>& tags() const { return tags_; }
  const PluginCallbacks* callbacks() const { return &callbacks_; }
  const ApiDescription* apiDescription() const { return &apiDescription_; }

 protected:
  // ---- Framework tables -----------------------------------------------------------------------
  struct TimerRecord {
    AppModule* module;
    uint64_t id;
    std::function<void()> callback;
  };
  static void TimerCallback(void* record);

  std::mutex timerMutex_;
  std::unordered_map<uint64_t, std::unique_ptr<TimerRecord>> timers_;
  uint64_t nextTimerId_ = 1;

  // ---- Module fields --------------------------------------------------------------------------
  AppModule* self_ = this;
  uint32_t hostHandle_ = 0;
  std::string moduleName_;
  std::string userAgent_;
  std::unique_ptr<TelemetrySender> telemetrySender_;
  bool finalizing_ = false;
  PluginVersion hostVersion_;
  std::unique_ptr<PluginLogTarget> logTarget_;
  PluginIdentity identity_;
  std::string typePrefix_;
  std::vector<std::string> tags_;
  std::unique_ptr<ApiRegistry> apiRegistry_;
  const HostApi* hostApi_ = nullptr;
  PluginCallbacks callbacks_{};
  ApiDescription apiDescription_{};

 private:
  friend void Register(AppModule* module, PluginRegistration* registration,
                       const char* shortName);
  friend uint8_t InitializeModule(AppModule* module, const HostApi* hostApi);
  friend void ShutdownModule(AppModule* module);
};

}  // namespace Zorv::Client

#include "framework/async/await.h"
#include "framework/hostapi/host_call.h"
