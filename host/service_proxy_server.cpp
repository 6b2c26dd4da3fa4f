#include "host/service_proxy_server.h"

#include <algorithm>
#include <cstdio>

namespace Zorv::Host {
namespace {

bool IsText(const BindingProperty& value) {
  return value.kind() == ValueKind::String;
}

bool IsHandle(const BindingProperty& value) {
  return value.kind() == ValueKind::Unsigned ||
         (value.kind() == ValueKind::Signed && value.asSigned() >= 0);
}

}  // namespace

ServiceAnswer ServiceAnswer::Payload(std::string json, std::string status) {
  ServiceAnswer answer;
  answer.payload = std::move(json);
  answer.status = std::move(status);
  return answer;
}

ServiceAnswer ServiceAnswer::Error(std::string text, std::string status) {
  ServiceAnswer answer;
  answer.error = std::move(text);
  answer.status = std::move(status);
  return answer;
}

ServiceAnswer ServiceAnswer::NoAnswer() {
  ServiceAnswer answer;
  answer.when = When::Never;
  return answer;
}

void ServiceProxyServer::Script(const std::string& serviceName, const std::string& methodName,
                                Service service) {
  services_[{serviceName, methodName}] = std::move(service);
}

void ServiceProxyServer::Answer(const std::string& serviceName, const std::string& methodName,
                                ServiceAnswer answer) {
  Script(serviceName, methodName, [answer](const ServiceProxyRequest&) { return answer; });
}

bool ServiceProxyServer::Respond(const std::string& uuid, ServiceAnswer answer) {
  const auto it = std::find_if(requests_.begin(), requests_.end(),
                               [&](const ServiceProxyRequest& r) { return r.uuid == uuid; });
  if (it == requests_.end() || answer.when == ServiceAnswer::When::Never) return false;
  Arrange(*it, answer);
  return true;
}

CallAnswer ServiceProxyServer::Handle(const CallRequest& request) {
  const std::vector<BindingProperty>& arguments = request.arguments;
  if (arguments.size() != 4 || !IsText(arguments[0]) || !IsText(arguments[1]) ||
      !IsHandle(arguments[2]) || !IsText(arguments[3])) {
    return CallAnswer::Error(
        "Bad service-proxy request: expected service name, method name, host handle and payload",
        400);
  }
  ServiceProxyRequest proxied;
  proxied.uuid = NextUuid();
  proxied.serviceName = arguments[0].asString();
  proxied.methodName = arguments[1].asString();
  proxied.hostHandle = arguments[2].kind() == ValueKind::Unsigned
                           ? arguments[2].asUnsigned()
                           : static_cast<uint64_t>(arguments[2].asSigned());
  proxied.payload = arguments[3].asString();
  requests_.push_back(proxied);

  // A copy: a service may script the server again while it runs.
  const auto it = services_.find({proxied.serviceName, proxied.methodName});
  const Service service = it == services_.end() ? Service() : it->second;
  const ServiceAnswer answer =
      service ? service(proxied)
              : ServiceAnswer::Error(
                    "No service answers " + proxied.serviceName + "." + proxied.methodName, "404");
  Arrange(proxied, answer);
  return CallAnswer::Value(BindingProperty(proxied.uuid));
}

BindingProperty ServiceProxyServer::ResponsePayload(const ServiceProxyRequest& request,
                                                    const ServiceAnswer& answer) {
  BindingProperty payload;
  payload.field("uuid") = request.uuid;
  payload.field("serviceName") = request.serviceName;
  payload.field("methodName") = request.methodName;
  payload.field("payload") = answer.payload;
  payload.field("status") = answer.status;
  payload.field("error") = answer.error;
  return payload;
}

void ServiceProxyServer::Arrange(const ServiceProxyRequest& request, const ServiceAnswer& answer) {
  if (answer.when == ServiceAnswer::When::Never) return;
  auto deliver = [this, handle = request.hostHandle, payload = ResponsePayload(request, answer)] {
    delivered_.push_back(payload);
    if (hooks_.deliver) hooks_.deliver(kServiceProxyUuidEvent, handle, payload);
  };
  switch (answer.when) {
    case ServiceAnswer::When::DuringRequest:
      deliver();
      return;
    case ServiceAnswer::When::OnNextYield:
      if (hooks_.onNextYield) hooks_.onNextYield(std::move(deliver));
      return;
    default:
      if (hooks_.later) hooks_.later(answer.delay, std::move(deliver));
      return;
  }
}

std::string ServiceProxyServer::NextUuid() {
  char text[40];
  std::snprintf(text, sizeof(text), "00000000-0000-4000-8000-%012llx",
                static_cast<unsigned long long>(++uuidCount_));
  return text;
}

}  // namespace Zorv::Host
