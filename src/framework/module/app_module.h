// AppModule: the base of every module that a host loads. It holds the module's
// identity, registry and host connection, forwards every host call through
// its virtual slots (so tests can stand in for the host), and carries the
// framework's operations: host calls, its own endpoints, resource events
// (following and publishing), service-proxy requests, jobs and waits,
// telemetry.
//
// Lifecycle: constructed by the entry function; Register (registration.h)
// checks the host version, fills identity and tags, calls RegisterApi and
// answers the host; Initialize keeps the HostApi, follows the service-proxy
// events and calls Start; Shutdown sets finalizing, calls UnregisterAll
// (which ends every event subscription and clears the handler, observer and
// service-proxy tables) and destroys the module. From construction to
// destruction the module holds a reference to the process logger.
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
#include "framework/events/resource_event.h"
#include "framework/hostapi/failure.h"
#include "framework/hostapi/host_request.h"
#include "framework/hostapi/maybe_type.h"
#include "framework/module/plugin_identity.h"
#include "framework/module/plugin_version.h"
#include "framework/serviceproxy/service_proxy_tables.h"
#include "logging/logger.h"
#include "platform/monotonic_clock.h"
#include "zorv/plugin_abi.h"

namespace Zorv {
class TypeRegistry;
}

namespace Zorv::Client {

class ApiRegistry;
class EndpointBuilder;
class TelemetrySender;
class PluginLogTarget;

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
  // As above, but the body stays where the host holds it: `takeBody` gets it
  // once the response has converted (result code 0, no conversion failure),
  // before this returns and before any other host call; response.body stays
  // empty. Otherwise `takeBody` is not called.
  HostResponse SendHttpRequest(const HostRequest& request, const BodyTaker& takeBody);
  static Failure MakeNotFound(std::string_view message);

  // ---- Endpoints (endpoint_builder.h) ----------------------------------------------------------
  // Registers a handler (a member function of the derived module, or a
  // callable) under a method and a path template; the builder declares its
  // arguments in parameter order. The name is MakeIdentifier(method text, path).
  template <typename Handler>
  EndpointBuilder Get(std::string_view path, Handler handler);
  template <typename Handler>
  EndpointBuilder Post(std::string_view path, Handler handler);
  // Any method code; `customMethod` is the method text for code 8.
  template <typename Handler>
  EndpointBuilder AddEndpoint(uint32_t method, std::string_view path, Handler handler,
                              std::string_view customMethod = {});

  // ---- Events (observe.h, event_subscriptions.cpp) ---------------------------------------------
  // Follows the resource at `url` (or every resource matching a pattern with
  // '*'): subscribes, then delivers each change to `callback` as a T. An exact
  // URL's current value arrives first, as a Create event, before Observe returns.
  template <typename T>
  void Observe(const std::string& url, std::function<void(const ResourceEvent<T>&)> callback);
  // Counted per host event: only the first Subscribe of an event reaches the
  // host, and only the Unsubscribe that ends the count.
  void Subscribe(const std::string& resource) override;
  void Unsubscribe(const std::string& resource) override;
  // Installs the handler of a host event (replacing an earlier one) and
  // subscribes to it at the host; `flag` is the host's (0 for resource
  // events, 1 for service-proxy answers).
  void RegisterEventHandler(const std::string& eventName, ResourceEventHandler handler,
                            uint32_t flag);
  void RegisterEventHandler(const std::string& eventName, ServiceProxyEventHandler handler,
                            uint32_t flag);
  // Sends a change of one of the module's own resources to the followers of
  // its grouped event and, when the URL differs from that name, to those of
  // the URL itself. Fails when the value does not convert.
  template <typename T>
  MaybeType<Failure, void> PublishResource(std::string_view url, const T& value,
                                           PluginResourceEventType eventType);
  MaybeType<Failure, void> PublishProperty(std::string_view url, const BindingProperty& value,
                                           PluginResourceEventType eventType);

  // ---- Service proxy (service_proxy.h) ---------------------------------------------------------
  // Sends a request to a server service; returns an error text, empty when the
  // request is on its way. Empty selector texts choose the uuid-based form.
  // `completion` runs once, with the proxy mutex held, when the answer arrives.
  template <typename Request>
  std::string InvokeServiceProxy(const std::string& serviceName, const std::string& methodName,
                                 const Request& request, const std::string& selector,
                                 const std::string& selectorArgument,
                                 ServiceProxyEventHandler completion);
  // InvokeServiceProxy with the request already written as JSON text.
  std::string InvokeServiceProxyPayload(const std::string& serviceName,
                                        const std::string& methodName, const std::string& payload,
                                        const std::string& selector,
                                        const std::string& selectorArgument,
                                        ServiceProxyEventHandler completion);
  // The answer as a Response, through a future.
  template <typename Request, typename Response>
  std::future<MaybeType<Failure, Response>> CallServiceProxy(const std::string& serviceName,
                                                             const std::string& methodName,
                                                             const Request& request);
  // CallServiceProxy, awaited by yielding to the host.
  template <typename Request, typename Response>
  MaybeType<Failure, Response> CallServiceProxySync(const std::string& serviceName,
                                                    const std::string& methodName,
                                                    const Request& request);
  // Completes at most one pending request whose answer has arrived.
  void ProcessArrivedAnswers();

  // ---- Jobs and waits (job_scheduler.cpp, await.h) -----------------------------------------
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
  // The first member, so the module keeps the process logger, with the
  // settings and the log target it installed, until all else is destroyed.
  LoggerReference loggerReference_;

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

  // Observers, handlers and subscriptions; only the host thread touches them.
  // The holders are shared so that one running survives its own replacement.
  using ObserverHolder = std::shared_ptr<const ResourceEventHandler>;
  std::unordered_map<std::string, ObserverHolder> exactObservers_{8};
  std::unordered_map<std::string, ObserverHolder> patternObservers_{8};
  std::unordered_map<std::string, std::shared_ptr<const EventHandler>> eventHandlers_{8};
  std::unordered_map<std::string, uint32_t> subscriptionCounts_{8};

  // Service-proxy tables, guarded by proxyMutex_: pending requests and
  // arrived answers by request identifier, async handlers by request key.
  std::mutex proxyMutex_;
  ServiceProxyTables proxyTables_;
  std::unordered_map<std::string, ServiceProxyEventHandler> asyncHandlers_{8};

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
  friend void Register(AppModule* module, PluginRegistration* registration, const char* shortName);
  friend uint8_t InitializeModule(AppModule* module, const HostApi* hostApi);
  friend void ShutdownModule(AppModule* module);

  void AddObserver(const std::string& url, ResourceEventHandler observer);
  // The handler that Subscribe installs: hands a resource event to its observers.
  void Dispatch(const PluginResourceEvent& event);
  // The C callbacks given to SubscribeEvent; the record's context is the module.
  static void OnHostEvent(const IncomingEventRecord* record);
  static void OnServiceProxyEvent(const IncomingEventRecord* record);
  template <typename Handler>
  static void DeliverHostEvent(const IncomingEventRecord* record);

  bool IsRequestPending(const std::string& identifier);
  std::string RefuseRequestInFlight();
  std::string RefuseRepeatedIdentifier(const std::string& key, const std::string& identifier);
  // Stores an answer under its identifier (dropping the oldest unclaimed one
  // past the bound, with a WARN line) and completes one request.
  void StoreArrivedAnswer(const std::string& identifier, const PluginServiceProxyResponse& answer);
  void OnServiceProxyUuidAnswer(const PluginServiceProxyResponse& answer);
  void OnServiceProxyMethodAnswer(const PluginServiceProxyResponse& answer);
  void OnServiceProxyAsyncAnswer(const PluginServiceProxyResponse& answer);

 protected:
  // Installs the handlers of the three service-proxy events (at Initialize).
  void RegisterServiceProxyHandlers();
};

}  // namespace Zorv::Client

#include "framework/async/await.h"
#include "framework/endpoints/endpoint_builder.h"
#include "framework/events/observe.h"
#include "framework/hostapi/host_call.h"
#include "framework/serviceproxy/service_proxy.h"
