// AppModule's service-proxy requests and answers: sending a request through
// the host, the tables of pending requests and arrived answers, and the
// handlers of the three service-proxy events.

#include "framework/serviceproxy/service_proxy.h"

#include <mutex>
#include <optional>
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
// method. So only one method-based request per key can be in flight, and a
// uuid that the host hands out twice is refused: storing it again would take
// the first request's completion away.
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
    if (IsRequestPending(identifier)) return RefuseRepeatedIdentifier(key, identifier);
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
  bool stored = false;
  {
    std::lock_guard lock(proxyMutex_);
    stored = proxyTables_.AddPending(identifier, std::move(completion));
  }
  if (!stored) {
    return selector.empty() ? RefuseRepeatedIdentifier(key, identifier) : RefuseRequestInFlight();
  }
  ProcessArrivedAnswers();
  return {};
}

bool AppModule::IsRequestPending(const std::string& identifier) {
  std::lock_guard lock(proxyMutex_);
  return proxyTables_.IsPending(identifier);
}

std::string AppModule::RefuseRequestInFlight() {
  Log(LogLevel::Error, kLogDBG,
      "%s: Could not invoke service proxy as request is already in flight", moduleName_.c_str());
  return kInFlight;
}

std::string AppModule::RefuseRepeatedIdentifier(const std::string& key,
                                                const std::string& identifier) {
  Log(LogLevel::Warn, kLogDBG,
      "%s: Could not start service proxy request %s: identifier %s is already in flight",
      moduleName_.c_str(), key.c_str(), identifier.c_str());
  return "Request identifier " + identifier + " is already in flight";
}

void AppModule::ProcessArrivedAnswers() {
  std::lock_guard lock(proxyMutex_);
  std::optional<ServiceProxyTables::Match> match = proxyTables_.TakeMatch();
  if (!match) return;
  match->completion(match->answer);
  Log(LogLevel::Always, kLogDBG, "%s: Fulfilled service proxy request: %s", moduleName_.c_str(),
      match->identifier.c_str());
}

void AppModule::StoreArrivedAnswer(const std::string& identifier,
                                   const PluginServiceProxyResponse& answer) {
  std::optional<std::string> dropped;
  {
    std::lock_guard lock(proxyMutex_);
    dropped = proxyTables_.AddAnswer(identifier, answer);
  }
  if (dropped) {
    Log(LogLevel::Warn, kLogDBG,
        "%s: Dropped unclaimed service proxy answer %s (over %zu answers without a request)",
        moduleName_.c_str(), dropped->c_str(), ServiceProxyTables::kMaxUnclaimedAnswers);
  }
  ProcessArrivedAnswers();
}

void AppModule::OnServiceProxyUuidAnswer(const PluginServiceProxyResponse& answer) {
  StoreArrivedAnswer(answer.uuid, answer);
}

void AppModule::OnServiceProxyMethodAnswer(const PluginServiceProxyResponse& answer) {
  StoreArrivedAnswer(RequestKey(answer.serviceName, answer.methodName), answer);
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
