// EventBus: the host's relay of named events. Plug-ins subscribe by event name
// and host handle with a C callback; an event is delivered to every
// subscription of its name, as an IncomingEventRecord whose payload the host
// encodes for the call and frees afterwards.
//
// Delivery is safe against subscriptions that change while it runs: a
// subscription removed by an earlier callback of the same delivery is not
// called. Events sent from inside a plug-in callback are queued and delivered
// when the host next runs its pending work, so a plug-in never sees a
// delivery nested in its own SendEvent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding_property.h"
#include "zorv/plugin_abi.h"

namespace Zorv::Host {

class EventBus {
 public:
  struct Subscription {
    std::string name;
    uint32_t hostHandle = 0;
    HostEventCallback callback = nullptr;
    void* context = nullptr;
    uint32_t flag = 0;
  };

  // A later subscription of the same name and handle replaces the earlier one.
  void Subscribe(Subscription subscription);
  // False when there was no such subscription.
  bool Unsubscribe(const std::string& name, uint32_t hostHandle);
  bool IsSubscribed(const std::string& name) const;
  const std::vector<Subscription>& Subscriptions() const { return subscriptions_; }

  // Calls every subscription of `name` now; answers how many were called.
  size_t Deliver(const std::string& name, const BindingProperty& payload);
  // The same for the subscriptions of one host handle only.
  size_t DeliverTo(const std::string& name, uint64_t hostHandle, const BindingProperty& payload);
  // Keeps the event for RunQueued.
  void Queue(std::string name, BindingProperty payload);
  // Delivers the events queued before this call, in order; those queued
  // meanwhile wait for the next call. Answers how many were delivered.
  size_t RunQueued();
  size_t Queued() const { return queue_.size(); }

  // Forgets every subscription and queued event.
  void Clear();

 private:
  struct QueuedEvent {
    std::string name;
    BindingProperty payload;
  };

  size_t Deliver(const std::string& name, const uint64_t* onlyHandle,
                 const BindingProperty& payload);

  std::vector<Subscription> subscriptions_;
  std::vector<QueuedEvent> queue_;
};

}  // namespace Zorv::Host
