// AppModule's service-proxy requests and answers: sending a request through
// the host, the tables of pending requests and arrived answers, and the
// handlers of the three service-proxy events.

#include "framework/serviceproxy/service_proxy.h"

#include <mutex>
#include <string>
#include <utility>

#include "framework/hostapi/host_call.h"
#include "framework/module/app_module.h"
#include "logging/log.h"

namespace Zorv::Client {

namespace {

constexpr const char* kUuidRequests = "/pex-login/v1/service-proxy-uuid-requests";
constexpr const char* kMethodRequests = "/pex-login/v1/service-proxy-method-requests";
constexpr const char* kInFlight = "Request already in flight";

std::string RequestKey(const std::string& serviceName, const std::string& methodName) {
  std::string key;
  key.reserve(serviceName.size() + 1 + methodName.size());
  key += serviceName;
  key += '.';
  key += methodName;
  return key;
}

}  // namespace

// A uuid-based request is identified by the uuid the host answers; a
// method-based one by its key, since its answer carries only service and
// method. So only one method-based request per key can be in flight.
std::string AppModule::InvokeServiceProxyPayload(const std::string& serviceName,
                                                 const std::string& methodName,
                                                 const std::string& payload,
                                                 const std::string& selector,
                                                 const std::string& selectorArgument,
                                                 ServiceProxyEventHandler completion) {
  if (finalizing_) return "Finalizing";
  const std::string key = RequestKey(serviceName, methodName);
  Log(LogLevel::Always, kLogDBG, "%s: Preparing service proxy request: %s", moduleName_.c_str(),
      key.c_str());
  std::string identifier;
  if (selector.empty()) {
    MaybeType<Failure, std::string> uuid = Call<std::string>(
        HOST_METHOD_POST, kUuidRequests, serviceName, methodName, hostHandle_, payload);
    if (!uuid) return uuid.failure().message;
    identifier = std::move(uuid).value();
  } else {
    if (IsRequestPending(key)) return RefuseRequestInFlight();
    MaybeType<Failure, void> sent =
        Call<void>(HOST_METHOD_POST, kMethodRequests, serviceName, methodName, selector,
                   selectorArgument, hostHandle_, payload);
    if (!sent) return sent.failure().message;
    identifier = key;
  }
  Log(LogLevel::Always, kLogDBG, "%s: Started service proxy request: %s (%s)", moduleName_.c_str(),
      key.c_str(), identifier.c_str());
  {
    std::lock_guard lock(proxyMutex_);
    if (selector.empty()) {
      pendingRequests_[identifier] = std::move(completion);
    } else if (!pendingRequests_.try_emplace(identifier, std::move(completion)).second) {
      return RefuseRequestInFlight();
    }
  }
  ProcessArrivedAnswers();
  return {};
}

bool AppModule::IsRequestPending(const std::string& identifier) {
  std::lock_guard lock(proxyMutex_);
  return pendingRequests_.contains(identifier);
}

std::string AppModule::RefuseRequestInFlight() {
  Log(LogLevel::Error, kLogDBG,
      "%s: Could not invoke service proxy as request is already in flight", moduleName_.c_str());
  return kInFlight;
}

void AppModule::ProcessArrivedAnswers() {
  std::lock_guard lock(proxyMutex_);
  for (auto answer = arrivedAnswers_.begin(); answer != arrivedAnswers_.end(); ++answer) {
    const auto pending = pendingRequests_.find(answer->first);
    if (pending == pendingRequests_.end()) continue;
    pending->second(answer->second);
    Log(LogLevel::Always, kLogDBG, "%s: Fulfilled service proxy request: %s", moduleName_.c_str(),
        answer->first.c_str());
    pendingRequests_.erase(pending);
    arrivedAnswers_.erase(answer);
    return;
  }
}

void AppModule::OnServiceProxyUuidAnswer(const PluginServiceProxyResponse& answer) {
  {
    std::lock_guard lock(proxyMutex_);
    arrivedAnswers_.insert_or_assign(answer.uuid, answer);
  }
  ProcessArrivedAnswers();
}

void AppModule::OnServiceProxyMethodAnswer(const PluginServiceProxyResponse& answer) {
  {
    std::lock_guard lock(proxyMutex_);
    arrivedAnswers_.insert_or_assign(RequestKey(answer.serviceName, answer.methodName), answer);
  }
  ProcessArrivedAnswers();
}

void AppModule::OnServiceProxyAsyncAnswer(const PluginServiceProxyResponse& answer) {
  const std::string key = RequestKey(answer.serviceName, answer.methodName);
  std::lock_guard lock(proxyMutex_);
  const auto handler = asyncHandlers_.find(key);
  if (handler == asyncHandlers_.end()) {
    Log(LogLevel::Error, kLogDBG,
        "%s: Could not find registered handler for async service proxy event %s",
        moduleName_.c_str(), key.c_str());
    return;
  }
  handler->second(answer);
}

void AppModule::RegisterServiceProxyHandlers() {
  RegisterEventHandler("OnServiceProxyUuidEvent",
                       ServiceProxyEventHandler([this](const PluginServiceProxyResponse& answer) {
                         OnServiceProxyUuidAnswer(answer);
                       }),
                       1);
  RegisterEventHandler("OnServiceProxyMethodEvent",
                       ServiceProxyEventHandler([this](const PluginServiceProxyResponse& answer) {
                         OnServiceProxyMethodAnswer(answer);
                       }),
                       1);
  RegisterEventHandler("OnServiceProxyAsyncEvent",
                       ServiceProxyEventHandler([this](const PluginServiceProxyResponse& answer) {
                         OnServiceProxyAsyncAnswer(answer);
                       }),
                       1);
}

}  // namespace Zorv::Client
