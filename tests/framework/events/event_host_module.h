// EventHostModule: a FakeHostModule that also keeps what the event calls
// carried (callback, context and flag of each subscription; payload and type
// of each sent event) and delivers events the way the host does: through the
// C callback subscribed for the event's name, with an encoded payload.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding_property.h"
#include "framework/hostapi/host_value_codec.h"
#include "framework/module/api_registry.h"
#include "framework/module/framework_types.h"
#include "support/fake_host_module.h"

namespace Zorv::Testing {

class EventHostModule : public FakeHostModule {
 public:
  struct Subscription {
    std::string name;
    uint32_t hostHandle;
    HostEventCallback callback;
    void* context;
    uint32_t flag;
  };
  struct SentEvent {
    std::string name;
    BindingProperty payload;
    uint32_t eventType;
  };

  EventHostModule() {
    moduleName_ = "pex-replays";
    Client::RegisterFrameworkTypes(apiRegistry());
  }

  void SubscribeEvent(const char* name, uint32_t hostHandle, HostEventCallback callback,
                      void* context, uint32_t flag) override {
    FakeHostModule::SubscribeEvent(name, hostHandle, callback, context, flag);
    subscriptions.push_back(Subscription{name, hostHandle, callback, context, flag});
  }
  void SendEvent(const EventRecord* event) override {
    FakeHostModule::SendEvent(event);
    sent.push_back(SentEvent{event->name, DecodeHostValue(event->payload).value, event->eventType});
  }

  // The latest subscription of `name`, or null.
  const Subscription* Find(const std::string& name) const {
    for (auto it = subscriptions.rbegin(); it != subscriptions.rend(); ++it) {
      if (it->name == name) return &*it;
    }
    return nullptr;
  }

  // Calls the subscribed callback of `name` with `payload`; false when none.
  bool Deliver(const std::string& name, const BindingProperty& payload) {
    const Subscription* subscription = Find(name);
    if (subscription == nullptr) return false;
    IncomingEventRecord record{};
    record.name = subscription->name.c_str();
    EncodeHostValue(payload, nullptr, record.payload);
    record.hostWord = subscription->hostHandle;
    record.context = subscription->context;
    subscription->callback(&record);
    ReleaseHostValue(record.payload);
    return true;
  }

  // A resource event as the host relays it to followers of `eventName`.
  bool DeliverResource(const std::string& eventName, const std::string& uri, const char* type,
                       const BindingProperty& data = {}) {
    BindingProperty payload;
    payload.field("uri") = std::string_view(uri);
    payload.field("eventType") = type;
    payload.field("data") = data;
    return Deliver(eventName, payload);
  }

  std::vector<Subscription> subscriptions;
  std::vector<SentEvent> sent;
};

}  // namespace Zorv::Testing
