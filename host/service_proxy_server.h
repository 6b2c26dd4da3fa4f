// ServiceProxyServer: the login plug-in's service-proxy resource and the game
// server's services behind it, as the host offers them to a plug-in.
//
// A plug-in POSTs "/pex-login/v1/service-proxy-uuid-requests" with four
// positional arguments (service name, method name, its host handle, payload
// text). The server answers a fresh uuid at once and delivers the service's
// answer later as the host event "OnServiceProxyUuidEvent", whose payload is
// {uuid, serviceName, methodName, payload, status, error}, to the plug-in of
// the request's host handle only: another plug-in never sees it.
//
//   server.Answer("replays.retrieval", "getDownloadUrl",
//                 ServiceAnswer::Payload(R"({"url":"https://cdn/1.trec"})").OnNextYield());
//   server.Script("replays.retrieval", "getMultipleMetadata",
//                 [](const ServiceProxyRequest& request) { return Lookup(request.payload); });
//
// Promises:
// - Uuids are unique per server and deterministic ("00000000-0000-4000-8000-"
//   and a 12-digit hexadecimal count from 1), so runs repeat exactly.
// - Each request gets at most one answer from its service; an answer scripted
//   as Never comes only when the test calls Respond. A request to a service and
//   method that nothing scripts is answered, after no delay, with the error
//   "No service answers " and the "service.method" key.
// - Timing is the host's (Hooks): After a virtual delay runs from the host's
//   pending work; OnNextYield inside the plug-in's next YieldToHost;
//   DuringRequest before the request call returns, so the answer reaches the
//   plug-in before it knows its request's uuid.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_property.h"
#include "host/call_answer.h"
#include "host/ring_buffer.h"

namespace Zorv::Host {

inline constexpr char kServiceProxyUuidRequestPath[] = "/pex-login/v1/service-proxy-uuid-requests";
inline constexpr char kServiceProxyUuidEvent[] = "OnServiceProxyUuidEvent";

struct ServiceProxyRequest {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;  // JSON text, as the plug-in sent it
  uint64_t hostHandle = 0;
};

// What a service answers to one request, and when.
struct ServiceAnswer {
  enum class When { After, OnNextYield, DuringRequest, Never };

  static ServiceAnswer Payload(std::string json, std::string status = "200");
  static ServiceAnswer Error(std::string text, std::string status = "500");
  static ServiceAnswer NoAnswer();

  ServiceAnswer& After(std::chrono::nanoseconds wait) {
    when = When::After;
    delay = wait;
    return *this;
  }
  ServiceAnswer& OnNextYield() {
    when = When::OnNextYield;
    return *this;
  }
  ServiceAnswer& DuringRequest() {
    when = When::DuringRequest;
    return *this;
  }

  std::string payload;
  std::string status;
  std::string error;
  When when = When::After;
  std::chrono::nanoseconds delay{0};
};

class ServiceProxyServer {
 public:
  using Service = std::function<ServiceAnswer(const ServiceProxyRequest&)>;

  // How the host runs an answer's delivery: now, after a delay of virtual
  // time, or in the plug-in's next yield.
  struct Hooks {
    // To the plug-in that asked: `hostHandle` is its request's handle argument.
    std::function<void(const std::string& event, uint64_t hostHandle,
                       const BindingProperty& payload)>
        deliver;
    std::function<void(std::chrono::nanoseconds delay, std::function<void()> action)> later;
    std::function<void(std::function<void()> action)> onNextYield;
  };

  explicit ServiceProxyServer(Hooks hooks) : hooks_(std::move(hooks)) {}

  // The service of one method; a later script replaces an earlier one.
  void Script(const std::string& serviceName, const std::string& methodName, Service service);
  // The same answer to every request of the method.
  void Answer(const std::string& serviceName, const std::string& methodName, ServiceAnswer answer);

  // Answers the request with `uuid` (one scripted as Never, or any other a
  // second time) with the answer's timing; false for an unknown uuid or Never.
  bool Respond(const std::string& uuid, ServiceAnswer answer);

  // The resource's handler: checks the four arguments, records the request,
  // answers its uuid and arranges the service's answer.
  CallAnswer Handle(const CallRequest& request);

  // The newest requests and delivered answers (as their event payloads),
  // kDefaultKeep of each unless SetKeep says otherwise. Respond finds only a
  // request that is still kept.
  const RingBuffer<ServiceProxyRequest>& Requests() const { return requests_; }
  const RingBuffer<BindingProperty>& Delivered() const { return delivered_; }
  void SetKeep(size_t entries) {
    requests_.SetCapacity(entries);
    delivered_.SetCapacity(entries);
  }
  // The event payload of `answer` to `request`.
  static BindingProperty ResponsePayload(const ServiceProxyRequest& request,
                                         const ServiceAnswer& answer);

 private:
  void Arrange(const ServiceProxyRequest& request, const ServiceAnswer& answer);
  std::string NextUuid();

  Hooks hooks_;
  std::map<std::pair<std::string, std::string>, Service> services_;
  RingBuffer<ServiceProxyRequest> requests_;
  RingBuffer<BindingProperty> delivered_;
  uint64_t uuidCount_ = 0;
};

}  // namespace Zorv::Host
