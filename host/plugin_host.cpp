#include "host/plugin_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "framework/events/event_name.h"
#include "framework/hostapi/host_value_codec.h"
#include "host/transfer_in_flight.h"
#include "logging/log_level.h"

namespace Zorv::Host {
namespace {

std::string VersionText(uint32_t major, uint32_t minor, uint32_t patch) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

// The module's version fits the host when the majors agree and the module
// needs no later minor or patch than the host has.
bool Fits(const PluginRegistration& answer, const HostVersion& host) {
  if (answer.major != host.major) return false;
  if (answer.minor != host.minor) return answer.minor < host.minor;
  return answer.patch <= host.patch;
}

// Counts a running host function, so that what it causes is queued.
class Nested {
 public:
  explicit Nested(int& depth) : depth_(depth) { ++depth_; }
  ~Nested() { --depth_; }
  Nested(const Nested&) = delete;
  Nested& operator=(const Nested&) = delete;

 private:
  int& depth_;
};

}  // namespace

// The C entries of the function table. Each finds its host from the table,
// keeps exceptions on the host's side of the boundary and forwards.
struct HostEntries {
  static PluginHost* From(const HostFunctions* self) {
    return self ? reinterpret_cast<const PluginHost::Table*>(self)->host : nullptr;
  }

  template <typename Body>
  static void Guard(const HostFunctions* self, const char* entry, Body body) {
    PluginHost* host = From(self);
    if (!host) return;
    Nested nested(host->depth_);
    try {
      host->ReleaseResponse();
      body(*host);
    } catch (const std::exception& e) {
      host->Fault(std::string(entry) + ": exception: " + e.what());
    } catch (...) {
      host->Fault(std::string(entry) + ": unknown exception");
    }
  }

  static void CallFunction(const HostFunctions* self, CallResult* result, const CallRecord* call) {
    Guard(self, "CallFunction", [&](PluginHost& host) { host.CallFunction(result, call); });
  }
  static void SendRequest(const HostFunctions* self, const HostRequestRecord* request,
                          HostResponseRecord* response) {
    Guard(self, "SendRequest", [&](PluginHost& host) { host.SendRequest(request, response); });
  }
  static void SendEvent(const HostFunctions* self, const EventRecord* event) {
    Guard(self, "SendEvent", [&](PluginHost& host) { host.SendEvent(event); });
  }
  static void SubscribeEvent(const HostFunctions* self, const char* name, uint32_t hostHandle,
                             HostEventCallback callback, void* context, uint32_t flag) {
    Guard(self, "SubscribeEvent", [&](PluginHost& host) {
      host.SubscribeEvent(name, hostHandle, callback, context, flag);
    });
  }
  static void UnsubscribeEvent(const HostFunctions* self, const char* name, uint32_t hostHandle) {
    Guard(self, "UnsubscribeEvent",
          [&](PluginHost& host) { host.UnsubscribeEvent(name, hostHandle); });
  }
  static void ScheduleCallback(const HostFunctions* self, const char* name,
                               HostTimerCallback callback, void* context, double delaySeconds,
                               uint32_t) {
    Guard(self, "ScheduleCallback",
          [&](PluginHost& host) { host.ScheduleCallback(name, callback, context, delaySeconds); });
  }
  static void YieldToHost(const HostFunctions* self) {
    Guard(self, "YieldToHost", [&](PluginHost& host) { host.YieldToHost(); });
  }
  static void BeginWait(const HostFunctions* self, const char* description, uint32_t) {
    Guard(self, "BeginWait", [&](PluginHost& host) { host.BeginWait(description); });
  }
  static void EndWait(const HostFunctions* self) {
    Guard(self, "EndWait", [&](PluginHost& host) { host.EndWait(); });
  }
  static void Log(const HostFunctions* self, int32_t level, const char* message) {
    Guard(self, "Log", [&](PluginHost& host) { host.Log(level, message); });
  }
};

PluginHost::PluginHost(Options options)
    : options_(options),
      ownClock_(options.clock ? nullptr : std::make_unique<VirtualClock>()),
      ownTransport_(options.transport ? nullptr : std::make_unique<FakeHttpTransport>()),
      clock_(options.clock ? options.clock : ownClock_.get()),
      transport_(options.transport ? options.transport : ownTransport_.get()),
      ledger_(std::make_shared<CallLedger>()),
      resources_([this](const std::string& name, const BindingProperty& payload) {
        OnResourceEvent(name, payload);
      }),
      timers_(*clock_),
      hostTimers_(*clock_),
      serviceProxy_(ServiceProxyServer::Hooks{
          [this](const std::string& name, uint64_t hostHandle, const BindingProperty& payload) {
            if (!payload.find("error").asString().empty()) ++upstreamFailures_;
            bus_.DeliverTo(name, hostHandle, payload);
          },
          [this](std::chrono::nanoseconds delay, std::function<void()> action) {
            hostTimers_.Schedule(kServiceProxyUuidEvent, std::move(action),
                                 std::chrono::duration<double>(delay).count());
          },
          [this](std::function<void()> action) { OnYield(std::move(action)); }}) {
  resources_.Handle(HOST_METHOD_POST, kServiceProxyUuidRequestPath,
                    [this](const CallRequest& request) { return serviceProxy_.Handle(request); });
  table_.functions = HostFunctions{HostEntries::CallFunction,     HostEntries::SendRequest,
                                   HostEntries::SendEvent,        HostEntries::SubscribeEvent,
                                   HostEntries::UnsubscribeEvent, HostEntries::ScheduleCallback,
                                   HostEntries::YieldToHost,      HostEntries::BeginWait,
                                   HostEntries::EndWait,          HostEntries::Log};
  table_.host = this;
  hostApi_.functions = &table_.functions;
  for (auto* ring : {&unsubscribed_, &waitDescriptions_, &faults_})
    ring->SetCapacity(options_.keep);
  events_.SetCapacity(options_.keep);
  logs_.SetCapacity(options_.keep);
  resources_.SetKeep(options_.keep);
  timers_.SetKeep(options_.keep);
  hostTimers_.SetKeep(options_.keep);
  serviceProxy_.SetKeep(options_.keep);
  if (ownTransport_) ownTransport_->SetKeep(options_.keep);
  work_.SetErrorSink([this](const std::string& what) { Fault("work item: exception: " + what); });
}

PluginHost::~PluginHost() {
  Unload();
}

void PluginHost::Unload() {
  if (depth_ > 0) {
    Fault("Unload: refused inside a host function");
    return;
  }
  if (registered_ && !shutDown_) Shutdown();
  CloseLibrary();
}

// ---- Lifecycle ----------------------------------------------------------------------------------

std::string PluginHost::Load(const std::string& path, HostVersion version,
                             const std::string& entryName) {
  if (library_ || registered_) return "a plug-in is loaded already";
  library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library_) {
    const char* why = dlerror();
    return "cannot load " + path + ": " + (why ? why : "unknown error");
  }
  auto entry = reinterpret_cast<PluginEntryFunction>(dlsym(library_, entryName.c_str()));
  if (!entry) {
    CloseLibrary();
    return path + " has no entry function " + entryName;
  }
  std::string error = Attach(entry, version);
  if (!error.empty()) CloseLibrary();
  return error;
}

std::string PluginHost::Attach(PluginEntryFunction entry, HostVersion version) {
  if (registered_) return "a plug-in is loaded already";
  if (!entry) return "no entry function";
  std::memset(&registration_, 0, sizeof(registration_));
  registration_.major = version.major;
  registration_.minor = version.minor;
  registration_.patch = version.patch;
  entry(&registration_);

  const PluginRegistration& answer = registration_;
  const PluginCallbacks* callbacks = answer.callbacks;
  std::string error;
  if (!callbacks || !callbacks->Initialize || !callbacks->Shutdown || !callbacks->GetMemoryStats) {
    error = "the plug-in answered no callbacks";
  } else if (!answer.module) {
    error = "the plug-in answered no module";
  } else if (!Fits(answer, version)) {
    error = "the plug-in's API " + VersionText(answer.major, answer.minor, answer.patch) +
            " does not fit the host's " + VersionText(version.major, version.minor, version.patch);
  }
  if (error.empty()) {
    registered_ = true;
    return error;
  }
  if (callbacks && callbacks->Shutdown && answer.module) callbacks->Shutdown(answer.module);
  std::memset(&registration_, 0, sizeof(registration_));
  return error;
}

bool PluginHost::Initialize(uint32_t hostHandle) {
  if (!registered_ || shutDown_ || initialized_) {
    Fault("Initialize: no plug-in to initialise");
    return false;
  }
  hostApi_.hostHandle = hostHandle;
  initialized_ = true;
  return registration_.callbacks->Initialize(registration_.module, &hostApi_) != 0;
}

bool PluginHost::Shutdown() {
  if (!registered_ || shutDown_) return false;
  if (depth_ > 0) {
    // The plug-in's own frames are below this one: shutting it down (or
    // closing its library) now would pull the module out from under them.
    Fault("Shutdown: refused inside a host function");
    return false;
  }
  registration_.callbacks->Shutdown(registration_.module);
  shutDown_ = true;
  std::memset(&registration_, 0, sizeof(registration_));
  bus_.Clear();
  timers_.Clear();
  hostTimers_.Clear();
  yieldActions_.clear();
  ReleaseResponse();
  return true;
}

void PluginHost::ReleaseResponse() {
  if (!holdsResponse_) return;
  holdsResponse_ = false;
  // Moved out, not assigned over: a string assigned an empty one keeps its room.
  { const HttpResponse released = std::move(response_); }
  response_ = HttpResponse();
  responseHeaders_ = {};
}

std::array<uint32_t, ZORV_MEMORY_STATS_WORDS> PluginHost::MemoryStats() {
  std::array<uint32_t, ZORV_MEMORY_STATS_WORDS> words{};
  if (registered_ && !shutDown_) {
    registration_.callbacks->GetMemoryStats(registration_.module, words.data());
  }
  return words;
}

void* PluginHost::Symbol(const std::string& name) const {
  return library_ ? dlsym(library_, name.c_str()) : nullptr;
}

void PluginHost::CloseLibrary() {
  if (library_) dlclose(library_);
  library_ = nullptr;
}

bool PluginHost::Running(const char* entry) {
  if (initialized_ && !shutDown_) return true;
  Fault(std::string(entry) + ": called while the plug-in is not running");
  return false;
}

EndpointAnswer PluginHost::CallModule(const EndpointCall& call) {
  if (!Running("CallModule")) {
    EndpointAnswer answer;
    answer.error = "the host is not running the plug-in";
    answer.status = 503;
    return answer;
  }
  const ApiDescription* description = registration_.apiDescription;
  if (!routes_.BuiltFrom(description)) {
    routes_ = RouteTable(description);
    routeCompiles_ += routes_.Compiles();
  }
  const size_t upstreamFailuresBefore = upstreamFailures_;
  EndpointAnswer answer =
      description ? InvokeEndpoint(*description, routes_, call) : InvokeEndpoint({}, {}, call);
  if (!answer.ok && answer.status == 0) {
    // A failure must reach an HTTP caller with a status it can act on.
    answer.status = upstreamFailures_ != upstreamFailuresBefore ? 502 : 500;
  }
  return answer;
}

ModuleApi PluginHost::ListModuleApi() const {
  if (!registered_ || shutDown_ || !registration_.apiDescription) return ModuleApi();
  return ReadModuleApi(*registration_.apiDescription);
}

bool PluginHost::LogContains(std::string_view part) const {
  for (const LogEntry& entry : logs_) {
    if (entry.message.find(part) != std::string::npos) return true;
  }
  return false;
}

// ---- Entries ------------------------------------------------------------------------------------

void PluginHost::OnResourceEvent(const std::string& name, const BindingProperty& payload) {
  if (tap_) {
    const std::string_view type = payload.find("eventType").asString();
    tap_(TappedEvent{name, std::string(payload.find("uri").asString()),
                     type == "Delete"   ? uint32_t{PLUGIN_RESOURCE_EVENT_DELETE}
                     : type == "Update" ? uint32_t{PLUGIN_RESOURCE_EVENT_UPDATE}
                                        : uint32_t{PLUGIN_RESOURCE_EVENT_CREATE},
                     payload.find("data")});
  }
  if (depth_ > 0) {
    bus_.Queue(name, payload);
  } else {
    bus_.Deliver(name, payload);
  }
}

void PluginHost::CallFunction(CallResult* result, const CallRecord* call) {
  if (!result) {
    Fault("CallFunction: no result record");
    return;
  }
  std::memset(static_cast<void*>(result), 0, sizeof(CallResult));
  if (!Running("CallFunction")) {
    FillCallResult(result, CallAnswer::Error("the host is not running the plug-in", 503), ledger_);
    return;
  }
  CallRequest request;
  std::string error = call ? std::string() : "no call record";
  if (call && !DecodeCallRecord(*call, request, error)) error = "Bad call: " + error;
  if (!error.empty()) {
    Fault("CallFunction: " + error);
    FillCallResult(result, CallAnswer::Error(error, 400), ledger_);
    return;
  }
  if (request.hostHandle != hostApi_.hostHandle) {
    Fault("CallFunction: host handle " + std::to_string(request.hostHandle) + " for " +
          request.url);
  }
  FillCallResult(result, Answer(request), ledger_);
}

CallAnswer PluginHost::Answer(const CallRequest& request) {
  // A handler that throws must not leave the plug-in a result that reads as success.
  try {
    return resources_.Route(request);
  } catch (const std::exception& e) {
    Fault("CallFunction: " + request.url + ": exception: " + e.what());
    return CallAnswer::Error(std::string("host failure: ") + e.what(), 500);
  } catch (...) {
    Fault("CallFunction: " + request.url + ": unknown exception");
    return CallAnswer::Error("host failure", 500);
  }
}

void PluginHost::SendRequest(const HostRequestRecord* request, HostResponseRecord* response) {
  if (!response) {
    Fault("SendRequest: no response record");
    return;
  }
  std::memset(response, 0, sizeof(*response));
  HttpResponse answer;
  if (!request || !request->url) {
    Fault("SendRequest: no request or URL");
    answer = HttpResponse::Failure(1, "no request");
  } else if ((request->headerCount != 0 && !request->headers) ||
             (request->bodySize != 0 && !request->body)) {
    Fault("SendRequest: null headers or body");
    answer = HttpResponse::Failure(1, "bad request record");
  } else if (Running("SendRequest")) {
    HttpRequest http;
    http.method = request->method;
    http.methodText = MethodText(request->method);
    http.url = request->url;
    for (uint32_t i = 0; i < request->headerCount; ++i) {
      const HostHeaderPair& pair = request->headers[i];
      http.headers.emplace_back(pair.name ? pair.name : "", pair.value ? pair.value : "");
    }
    if (request->bodySize != 0) {
      http.body.assign(static_cast<const char*>(request->body), request->bodySize);
    }
    http.optionWord = request->optionWord;
    http.optionFlag = request->optionFlag;
    answer = Transfer(http);
  } else {
    answer = HttpResponse::Failure(1, "the host is not running the plug-in");
  }

  response_ = std::move(answer);
  holdsResponse_ = true;
  responseHeaders_.clear();
  response->resultCode = response_.resultCode;
  if (response_.resultCode != 0) {
    response->body = response_.errorText.data();
    response->bodySize = static_cast<uint32_t>(response_.errorText.size());
    return;
  }
  for (const auto& [name, value] : response_.headers) {
    responseHeaders_.push_back(HostHeaderPair{name.c_str(), value.c_str()});
  }
  response->status = response_.status;
  response->headers = responseHeaders_.empty() ? nullptr : responseHeaders_.data();
  response->headerCount = static_cast<uint32_t>(responseHeaders_.size());
  response->body = response_.body.empty() ? nullptr : response_.body.data();
  response->bodySize = static_cast<uint32_t>(response_.body.size());
}

HttpResponse PluginHost::Transfer(const HttpRequest& http) {
  HttpResponse answer;
  if (transport_->MayBlock()) {
    // Pending work runs, nested, for as long as the transfer is in flight.
    answer = SendInFlight(
        *transport_, http, work_, [this] { RunPending(); }, [this] { WaitForWork(); });
  } else {
    // The fake answers at once: pending work runs first, as it would meanwhile.
    RunPending();
    try {
      answer = transport_->Send(http);
    } catch (const std::exception& e) {
      Fault("SendRequest: " + http.url + ": exception: " + e.what());
      answer = HttpResponse::Failure(1, std::string("host failure: ") + e.what());
    }
  }
  if (answer.resultCode != 0) ++upstreamFailures_;
  return answer;
}

void PluginHost::SendEvent(const EventRecord* event) {
  if (!event || !event->name) {
    Fault("SendEvent: no event or name");
    return;
  }
  if (!Running("SendEvent")) return;
  BindingResult payload = DecodeHostValue(event->payload);
  if (!payload.success) {
    Fault("SendEvent: payload of " + std::string(event->name) + ": " +
          std::string(payload.error()));
    return;
  }
  events_.push_back(PublishedEvent{event->name, std::move(payload.value), event->eventType});
  if (tap_) {
    const PublishedEvent& sent = events_.back();
    tap_(TappedEvent{sent.name, sent.name.starts_with('/') ? sent.name : std::string(),
                     sent.eventType, sent.payload});
  }
  Relay(events_.back());
}

void PluginHost::Relay(const PublishedEvent& event) {
  const std::string_view name = event.name;
  if (name.starts_with('/')) {
    const BindingProperty resourceEvent =
        ResourceEventPayload(name, event.eventType, event.payload);
    bus_.Queue(event.name, resourceEvent);
    bus_.Queue(Client::EventNameForUrl(name), resourceEvent);
  } else if (!name.starts_with("OnJsonApiEvent_")) {
    bus_.Queue(event.name, event.payload);
  }
}

void PluginHost::SubscribeEvent(const char* name, uint32_t hostHandle, HostEventCallback callback,
                                void* context, uint32_t flag) {
  if (!name || !callback) {
    Fault("SubscribeEvent: no name or callback");
    return;
  }
  if (!Running("SubscribeEvent")) return;
  if (hostHandle != hostApi_.hostHandle) {
    Fault("SubscribeEvent: host handle " + std::to_string(hostHandle) + " for " + name);
  }
  bus_.Subscribe(EventBus::Subscription{name, hostHandle, callback, context, flag});
}

void PluginHost::UnsubscribeEvent(const char* name, uint32_t hostHandle) {
  if (!name) {
    Fault("UnsubscribeEvent: no name");
    return;
  }
  if (!Running("UnsubscribeEvent")) return;
  unsubscribed_.emplace_back(name);
  if (!bus_.Unsubscribe(name, hostHandle)) {
    Fault("UnsubscribeEvent: not subscribed to " + std::string(name));
  }
}

void PluginHost::ScheduleCallback(const char* name, HostTimerCallback callback, void* context,
                                  double delaySeconds) {
  if (!callback) {
    Fault("ScheduleCallback: no callback");
    return;
  }
  if (!Running("ScheduleCallback")) return;
  timers_.Schedule(name ? name : "", callback, context, delaySeconds);
}

void PluginHost::BeginWait(const char* description) {
  ++waitBegins_;
  ++waitDepth_;
  waitDescriptions_.emplace_back(description ? description : "");
}

void PluginHost::EndWait() {
  ++waitEnds_;
  if (waitDepth_ == 0) {
    Fault("EndWait: no wait begun");
    return;
  }
  --waitDepth_;
}

void PluginHost::Log(int32_t level, const char* message) {
  LogEntry entry;
  entry.level = level;
  entry.message = message ? message : "";
  entry.line = std::string(LogLevelName(static_cast<LogLevel>(level))) + "| " + entry.message;
  if (options_.echoLogs) std::fprintf(stderr, "%s\n", entry.line.c_str());
  logs_.push_back(std::move(entry));
}

}  // namespace Zorv::Host
