// AppModule's event operations: subscriptions counted per host event,
// handlers for host events, the C callbacks the host calls with events, the
// dispatch of resource events to observers, and publishing.

#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/conversion.h"
#include "framework/events/event_name.h"
#include "framework/events/trace.h"
#include "framework/hostapi/host_value_codec.h"
#include "framework/module/app_module.h"
#include "logging/log.h"

namespace Zorv::Client {

namespace {

// The value that a handler of this kind receives.
template <typename Handler>
struct HandlerPayload;
template <>
struct HandlerPayload<ResourceEventHandler> {
  using Type = PluginResourceEvent;
};
template <>
struct HandlerPayload<ServiceProxyEventHandler> {
  using Type = PluginServiceProxyResponse;
};

// Frees an encoded value however the publishing ends.
class HostValueGuard {
 public:
  explicit HostValueGuard(HostValue& value) : value_(value) {}
  ~HostValueGuard() { ReleaseHostValue(value_); }
  HostValueGuard(const HostValueGuard&) = delete;
  HostValueGuard& operator=(const HostValueGuard&) = delete;

 private:
  HostValue& value_;
};

}  // namespace

void AppModule::Subscribe(const std::string& resource) {
  const std::string name = EventNameForUrl(resource);
  if (++subscriptionCounts_[name] != 1) return;
  Trace("%s: Subscribing to event: %s", moduleName_.c_str(), name.c_str());
  RegisterEventHandler(
      name, ResourceEventHandler([this](const PluginResourceEvent& event) { Dispatch(event); }), 0);
}

// An Unsubscribe without a matching Subscribe finds no count and changes nothing,
// so it can never end a subscription that others still hold.
void AppModule::Unsubscribe(const std::string& resource) {
  const std::string name = EventNameForUrl(resource);
  const auto count = subscriptionCounts_.find(name);
  if (count == subscriptionCounts_.end() || count->second == 0) return;
  if (--count->second != 0) return;
  UnsubscribeEvent(name.c_str(), hostHandle_);
  eventHandlers_.erase(name);
  Trace("%s: Unsubscribing to event: %s", moduleName_.c_str(), name.c_str());
}

void AppModule::RegisterEventHandler(const std::string& eventName, ResourceEventHandler handler,
                                     uint32_t flag) {
  eventHandlers_[eventName] = std::make_shared<const EventHandler>(std::move(handler));
  SubscribeEvent(eventName.c_str(), hostHandle_, &OnHostEvent, self_, flag);
}

void AppModule::RegisterEventHandler(const std::string& eventName, ServiceProxyEventHandler handler,
                                     uint32_t flag) {
  eventHandlers_[eventName] = std::make_shared<const EventHandler>(std::move(handler));
  SubscribeEvent(eventName.c_str(), hostHandle_, &OnServiceProxyEvent, self_, flag);
}

void AppModule::AddObserver(const std::string& url, ResourceEventHandler observer) {
  auto& table = IsUrlPattern(url) ? patternObservers_ : exactObservers_;
  table[url] = std::make_shared<const ResourceEventHandler>(std::move(observer));
}

// Observers are collected before any runs: an observer may observe or
// unsubscribe, which changes the tables being walked.
void AppModule::Dispatch(const PluginResourceEvent& event) {
  PluginResourceEvent delivered{WithLeadingSlash(event.uri), event.eventType, event.data};
  std::vector<std::shared_ptr<const ResourceEventHandler>> observers;
  if (const auto exact = exactObservers_.find(delivered.uri); exact != exactObservers_.end()) {
    observers.push_back(exact->second);
  }
  for (const auto& [pattern, observer] : patternObservers_) {
    if (UrlMatchesPattern(pattern, delivered.uri)) observers.push_back(observer);
  }
  for (const auto& observer : observers) (*observer)(delivered);
}

template <typename Handler>
void AppModule::DeliverHostEvent(const IncomingEventRecord* record) {
  if (record == nullptr || record->name == nullptr || record->context == nullptr) return;
  auto* module = static_cast<AppModule*>(record->context);
  const char* name = record->name;
  try {
    const auto found = module->eventHandlers_.find(name);
    if (found == module->eventHandlers_.end()) return;
    // The holder keeps the handler alive should it replace or remove itself.
    const std::shared_ptr<const EventHandler> holder = found->second;
    const Handler* handler = std::get_if<Handler>(holder.get());
    if (handler == nullptr) return;
    const BindingResult decoded = DecodeHostValue(record->payload);
    if (!decoded.success) {
      Trace("%s: Couldn't convert payload %s for event %s: %s", module->moduleName_.c_str(),
            "<result>", name, decoded.error());
      return;
    }
    typename HandlerPayload<Handler>::Type event;
    const BindingResult converted =
        FromProperty(decoded.value, event, "<result>", module->registry());
    if (!converted.success) {
      Trace("%s: Couldn't convert payload %s for event %s: %s", module->moduleName_.c_str(),
            "<result>", name, converted.error());
      return;
    }
    Trace("%s: Handling event %s", module->moduleName_.c_str(), name);
    (*handler)(event);
  } catch (const std::exception& error) {
    Log(LogLevel::Error, kLogDBG, "%s: handling event %s failed: %s", module->moduleName_.c_str(),
        name, error.what());
  } catch (...) {
    Log(LogLevel::Error, kLogDBG, "%s: handling event %s failed: unknown exception",
        module->moduleName_.c_str(), name);
  }
}

void AppModule::OnHostEvent(const IncomingEventRecord* record) {
  DeliverHostEvent<ResourceEventHandler>(record);
}

void AppModule::OnServiceProxyEvent(const IncomingEventRecord* record) {
  DeliverHostEvent<ServiceProxyEventHandler>(record);
}

MaybeType<Failure, void> AppModule::PublishProperty(std::string_view url,
                                                    const BindingProperty& value,
                                                    PluginResourceEventType eventType) {
  const std::string name = EventNameForUrl(url);
  Trace("%s: Sending event: %s", moduleName_.c_str(), name.c_str());
  HostValue encoded{};
  const HostValueGuard guard(encoded);
  const BindingResult result = EncodeHostValue(value, &registry(), encoded);
  if (!result.success) return MakeFailureText(0, std::string(result.error()));
  EventRecord record{};
  record.name = name.c_str();
  record.payload = encoded;
  record.eventType = static_cast<uint32_t>(eventType);
  SendEvent(&record);
  if (url != name) {
    const std::string exact(url);
    record.name = exact.c_str();
    SendEvent(&record);
  }
  return {};
}

}  // namespace Zorv::Client
