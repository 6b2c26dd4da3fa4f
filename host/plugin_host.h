// PluginHost: the host side of the plug-in boundary. It loads one plug-in
// library, performs the registration handshake, initialises and shuts the
// plug-in down, and serves the ten HostFunctions entries from in-process
// parts: a resource table, an HTTP transport, an event relay, a timer queue on
// a clock, wait bookkeeping and a log. It also serves the service-proxy
// resource with scripted server services, and calls the plug-in's own
// endpoints.
//
//   Zorv::Host::PluginHost host;
//   host.SetResource("/pex-settings/v1/local/pex-replays", R"({"x": 1})");
//   ASSERT_EQ(host.Load(path), "");
//   ASSERT_TRUE(host.Initialize());
//   host.Advance(std::chrono::seconds(30));  // runs the timers due by then
//   EndpointAnswer answer = host.CallModule(HOST_METHOD_GET, "/pex-replays/v1/configuration");
//   host.Shutdown();
//
// Promises:
// - Everything runs on the thread that drives the host; a plug-in callback
//   runs only from a verb of this class or from a host function that the
//   plug-in calls (YieldToHost and SendRequest run pending work nested, the
//   latter for as long as the transfer is in flight: on a transport that may
//   block it runs on a worker thread). Other threads hand work over through
//   Work(). An idle yield lets virtual time pass up to the next timer
//   (Options::idleYieldsAdvanceTime); on a clock that moves by itself it
//   sleeps until the next timer or handed-over work instead.
// - Shutdown and Unload never run under the plug-in's own frames: asked for
//   from inside a host function they are refused (HostLoop stops only at the
//   top level, where the caller shuts down).
// - Events and resource changes caused from inside a plug-in callback are
//   queued and delivered when pending work next runs (a yield, RunPending,
//   Advance); those caused by the test at top level are delivered at once.
//   The one exception is a service answer scripted DuringRequest, delivered
//   inside the request call on purpose (service_proxy_server.h).
// - What the plug-in publishes is kept (Events) and relayed to followers: an
//   event named by a resource URL goes, as a resource event {uri, eventType,
//   data}, to the followers of that name and of the URL's grouped event; a
//   grouped "OnJsonApiEvent_" event is only kept, since its URL twin carries
//   the same change with its URI; any other event goes out as it came.
// - After Shutdown no pointer of the registration record is used again, the
//   plug-in's timers and subscriptions are dropped and the library is closed
//   (it stays mapped until the process ends: see Load).
// - Every record the host receives is released with its own release function;
//   everything the host hands out is freed by the release function it gives.
//   A SendRequest answer (its headers and body, a whole replay for a
//   download) has no release function: it stays valid until the plug-in
//   calls a host function again, and is freed then.
// - Misuse of the host functions (unbalanced waits, null arguments, a wrong
//   host handle, calls after Shutdown) never crashes the host: it is kept in
//   Faults() and answered with the failure form of the entry.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"
#include "host/call_answer.h"
#include "host/clock.h"
#include "host/endpoint_call.h"
#include "host/event_bus.h"
#include "host/http_transport.h"
#include "host/module_api.h"
#include "host/resource_table.h"
#include "host/ring_buffer.h"
#include "host/service_proxy_server.h"
#include "host/timer_queue.h"
#include "host/work_queue.h"
#include "zorv/plugin_abi.h"

namespace Zorv::Host {

struct HostVersion {
  uint32_t major = ZORV_PLUGIN_API_MAJOR;
  uint32_t minor = ZORV_PLUGIN_API_MINOR;
  uint32_t patch = ZORV_PLUGIN_API_PATCH;
};

struct LogEntry {
  int32_t level = 0;
  std::string message;  // as the plug-in sent it
  std::string line;     // rendered: level name, "| ", message
};

struct PublishedEvent {
  std::string name;
  BindingProperty payload;
  uint32_t eventType = 0;
};

// An event as an outside observer sees it: one the plug-in sent (uri is its
// name when that is a resource URL, else empty) or a change of a host
// resource (name is the event followers subscribe to, uri the resource).
struct TappedEvent {
  std::string name;
  std::string uri;
  uint32_t eventType = 0;
  BindingProperty data;
};

class PluginHost {
 public:
  struct Options {
    // Null: the host's own VirtualClock (needed by Advance).
    Clock* clock = nullptr;
    // Null: the host's own FakeHttpTransport.
    HttpTransport* transport = nullptr;
    // Also write each log line to standard error.
    bool echoLogs = false;
    // A YieldToHost that finds no work to run and no scripted yield action
    // waiting moves the host's own virtual clock to the next timer and runs
    // it, so a plug-in that awaits a timed answer gets it instead of
    // spinning forever.
    bool idleYieldsAdvanceTime = true;
    // On a clock that does not move by itself, this many idle yields in a
    // row, with no timer left to advance to, mean a wait that nothing can
    // end: the host aborts the process with a message. 0: never.
    size_t maxIdleYields = 100000;
    // How many entries each record kept for inspection holds (events, log
    // lines, faults, calls, timer history, requests, service answers): the
    // newest ones, with sequence numbers that go on (ring_buffer.h).
    size_t keep = kDefaultKeep;
  };

  PluginHost() : PluginHost(Options{}) {}
  explicit PluginHost(Options options);
  // Unloads the plug-in (Unload).
  ~PluginHost();
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  // ---- Lifecycle -------------------------------------------------------------------------------
  // Opens the library, finds the entry function and registers the plug-in
  // (Attach). Answers the empty text on success, else why it failed. The
  // library stays open until Unload (or the host's destruction): closing it
  // runs its static destructors, which free its process-wide state, and a
  // later Load of the same file starts afresh.
  std::string Load(const std::string& path, HostVersion version = {},
                   const std::string& entryName = "load_pex_replays");
  // Registers through an entry function already in the process: fills words
  // 0-2 with `version`, calls it and checks the answer (a compatible version,
  // callbacks and module present). A refused plug-in that answered a module
  // is shut down again.
  std::string Attach(PluginEntryFunction entry, HostVersion version = {});
  // The registration record as the plug-in answered it.
  const PluginRegistration& Registration() const { return registration_; }
  // Calls Initialize with the host's HostApi; false when the plug-in refuses,
  // or when nothing is loaded or it was initialised already.
  bool Initialize(uint32_t hostHandle = 1);
  // Calls Shutdown once; then drops the plug-in's timers, subscriptions and
  // queued events. The library stays open, so its code and data (an exported
  // hook, a text it answered) can still be reached until Unload. Refused, with
  // a fault kept, from inside a host function (work run in a plug-in's wait):
  // the plug-in's frames are still on the stack. False when refused or when
  // there was nothing to shut down.
  bool Shutdown();
  // Shuts the plug-in down if it still runs and closes its library; refused
  // like Shutdown from inside a host function.
  void Unload();
  // REQUIRES: a loaded plug-in.
  std::array<uint32_t, ZORV_MEMORY_STATS_WORDS> MemoryStats();
  // A symbol of the loaded library (Load only), or null.
  void* Symbol(const std::string& name) const;
  const HostFunctions* Functions() const { return &table_.functions; }
  const HostApi* Api() const { return &hostApi_; }

  // ---- The plug-in's endpoints ---------------------------------------------------------------
  // Invokes the function of the plug-in's ApiDescription that serves the
  // call (endpoint_call.h); found is false when none does ("Invalid
  // function", 404) or the plug-in is not running (status 503). A failure the
  // plug-in answers with no status gets one: 502 when an upstream call failed
  // during this call (a transfer, or a service answer with an error), else
  // 500. The description's path matchers are compiled once, and again only
  // when the plug-in changes its description.
  EndpointAnswer CallModule(const EndpointCall& call);
  EndpointAnswer CallModule(uint32_t method, std::string url) {
    EndpointCall call;
    call.method = method;
    call.url = std::move(url);
    return CallModule(call);
  }
  // The plug-in's functions, types and events as its ApiDescription lists
  // them; empty when nothing is registered.
  ModuleApi ListModuleApi() const;
  // Path matchers compiled for routing so far.
  size_t RouteCompiles() const { return routeCompiles_; }

  // ---- Resources (CallFunction) ----------------------------------------------------------------
  ResourceTable& Resources() { return resources_; }
  void Handle(uint32_t method, std::string path, ResourceTable::Handler handler) {
    resources_.Handle(method, std::move(path), std::move(handler));
  }
  bool SetResource(const std::string& path, std::string_view json) {
    return resources_.SetResource(path, json);
  }
  const CallLedger& Ledger() const { return *ledger_; }

  // ---- HTTP (SendRequest) ----------------------------------------------------------------------
  HttpTransport& Transport() { return *transport_; }
  // The host's own fake; null when Options gave a transport.
  FakeHttpTransport* FakeTransport() { return ownTransport_.get(); }
  // Room that the last SendRequest answer's body and error text still take.
  size_t HeldResponseBytes() const {
    return response_.body.capacity() + response_.errorText.capacity();
  }

  // ---- Events ----------------------------------------------------------------------------------
  EventBus& Bus() { return bus_; }
  // Delivers to the subscribers of `name` now; answers how many were called.
  // The payload goes as it is: a resource event needs ResourceEventPayload.
  size_t DeliverEvent(const std::string& name, const BindingProperty& payload) {
    return bus_.Deliver(name, payload);
  }
  // The login plug-in's service-proxy resource and the server services
  // behind it; its answers run on the host's virtual time and yields.
  ServiceProxyServer& ServiceProxy() { return serviceProxy_; }
  // Event names the plug-in unsubscribed from, in order.
  const RingBuffer<std::string>& Unsubscribed() const { return unsubscribed_; }
  // What the plug-in sent with SendEvent, in order.
  const RingBuffer<PublishedEvent>& Events() const { return events_; }
  // Called on the host thread with every event the plug-in sends and every
  // change of a host resource, as it happens; it must not call the plug-in.
  using EventTap = std::function<void(const TappedEvent&)>;
  void TapEvents(EventTap tap) { tap_ = std::move(tap); }

  // ---- Time and pending work -------------------------------------------------------------------
  TimerQueue& Timers() { return timers_; }
  // Moves the host's virtual clock forward, running each timer (the
  // plug-in's and the host's own) that comes due at its due time, in order,
  // with the other pending work in between.
  // REQUIRES: the host's own VirtualClock (no clock in Options).
  void Advance(std::chrono::nanoseconds duration);
  // Runs handed-over work, queued events and due timers until none is left; answers how many
  // ran. Work that keeps making new work due at once (a timer that schedules
  // itself with no delay) is stopped after kMaxPendingPasses passes, with a
  // fault kept.
  static constexpr size_t kMaxPendingPasses = 100000;
  size_t RunPending();
  // Work handed over from other threads; it runs with the other pending work
  // (RunPending, a yield, a transfer in flight).
  WorkQueue& Work() { return work_; }
  // The host thread's one way to sleep: until the next timer comes due (on a
  // clock that moves by itself), the next handed-over work item, or a Wake.
  // On a virtual clock only work or a Wake ends it.
  void WaitForWork();
  // Runs `work` once on the host thread, `delaySeconds` from now on the host's
  // clock, with the host's own timers (not the plug-in's Timers()): host-side
  // simulations such as a game client that ends a watch later. Dropped,
  // unrun, by Shutdown. REQUIRES: the host thread (other threads: Work().Post).
  void ScheduleHostWork(std::string name, std::function<void()> work, double delaySeconds) {
    hostTimers_.Schedule(std::move(name), std::move(work), delaySeconds);
  }
  // Runs `action` on the host thread inside the `yields`-th YieldToHost from now.
  void OnYield(std::function<void()> action, size_t yields = 1);
  size_t Yields() const { return yields_; }
  size_t WaitBegins() const { return waitBegins_; }
  size_t WaitEnds() const { return waitEnds_; }
  // Open BeginWait brackets.
  size_t WaitDepth() const { return waitDepth_; }
  const RingBuffer<std::string>& WaitDescriptions() const { return waitDescriptions_; }

  // ---- Log and faults --------------------------------------------------------------------------
  const RingBuffer<LogEntry>& Logs() const { return logs_; }
  // True when some logged message contains `part`.
  bool LogContains(std::string_view part) const;
  const RingBuffer<std::string>& Faults() const { return faults_; }

 private:
  // The function table followed by its host: each entry finds the host from
  // the table's address.
  struct Table {
    HostFunctions functions;
    PluginHost* host;
  };
  friend struct HostEntries;

  void Fault(std::string text) { faults_.push_back(std::move(text)); }
  // False, with a fault kept, when the plug-in is not running.
  bool Running(const char* entry);
  void OnResourceEvent(const std::string& name, const BindingProperty& payload);
  void Relay(const PublishedEvent& event);
  // The earliest due time of the plug-in's and the host's timers.
  bool NextDue(int64_t& due) const;
  void CloseLibrary();
  CallAnswer Answer(const CallRequest& request);
  // The transport's answer to a request of the plug-in.
  HttpResponse Transfer(const HttpRequest& http);

  // Entries.
  void CallFunction(CallResult* result, const CallRecord* call);
  void SendRequest(const HostRequestRecord* request, HostResponseRecord* response);
  void SendEvent(const EventRecord* event);
  void SubscribeEvent(const char* name, uint32_t hostHandle, HostEventCallback callback,
                      void* context, uint32_t flag);
  void UnsubscribeEvent(const char* name, uint32_t hostHandle);
  void ScheduleCallback(const char* name, HostTimerCallback callback, void* context,
                        double delaySeconds);
  void YieldToHost();
  void BeginWait(const char* description);
  void EndWait();
  void Log(int32_t level, const char* message);

  Options options_;
  std::unique_ptr<VirtualClock> ownClock_;
  std::unique_ptr<FakeHttpTransport> ownTransport_;
  Clock* clock_;
  HttpTransport* transport_;

  Table table_;
  HostApi hostApi_{};
  PluginRegistration registration_{};
  RouteTable routes_;
  size_t routeCompiles_ = 0;
  void* library_ = nullptr;
  bool registered_ = false;
  bool initialized_ = false;
  bool shutDown_ = false;
  // Host functions running; changes made inside one are queued.
  int depth_ = 0;

  std::shared_ptr<CallLedger> ledger_;
  ResourceTable resources_;
  EventBus bus_;
  TimerQueue timers_;
  // Work the host itself schedules (service answers), apart from the
  // plug-in's timers so that those stay as the plug-in made them.
  TimerQueue hostTimers_;
  ServiceProxyServer serviceProxy_;
  RingBuffer<PublishedEvent> events_;
  EventTap tap_;
  RingBuffer<std::string> unsubscribed_;

  // Frees the last SendRequest answer: the plug-in has called the host again.
  void ReleaseResponse();

  // SendRequest's answer, kept until the plug-in's next host call or shutdown.
  HttpResponse response_;
  bool holdsResponse_ = false;
  // Failed upstream calls so far (transfers, service answers with an error):
  // an endpoint failure with no status that came with one is a 502.
  size_t upstreamFailures_ = 0;
  std::vector<HostHeaderPair> responseHeaders_;

  struct YieldAction {
    size_t remaining;
    std::function<void()> action;
  };
  std::vector<YieldAction> yieldActions_;
  size_t yields_ = 0;
  size_t idleYields_ = 0;  // in a row
  size_t waitBegins_ = 0;
  size_t waitEnds_ = 0;
  size_t waitDepth_ = 0;
  RingBuffer<std::string> waitDescriptions_;

  RingBuffer<LogEntry> logs_;
  RingBuffer<std::string> faults_;

  // Last: destroyed first, so a waiting Submit learns the host is gone
  // while the rest still stands.
  WorkQueue work_;
};

}  // namespace Zorv::Host
