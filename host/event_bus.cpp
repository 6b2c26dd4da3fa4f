#include "host/event_bus.h"

#include <algorithm>
#include <cstring>

#include "framework/hostapi/host_value_codec.h"

namespace Zorv::Host {
namespace {

bool Same(const EventBus::Subscription& a, const EventBus::Subscription& b) {
  return a.name == b.name && a.hostHandle == b.hostHandle && a.callback == b.callback &&
         a.context == b.context;
}

}  // namespace

void EventBus::Subscribe(Subscription subscription) {
  for (Subscription& existing : subscriptions_) {
    if (existing.name == subscription.name && existing.hostHandle == subscription.hostHandle) {
      existing = std::move(subscription);
      return;
    }
  }
  subscriptions_.push_back(std::move(subscription));
}

bool EventBus::Unsubscribe(const std::string& name, uint32_t hostHandle) {
  const auto it = std::find_if(
      subscriptions_.begin(), subscriptions_.end(),
      [&](const Subscription& s) { return s.name == name && s.hostHandle == hostHandle; });
  if (it == subscriptions_.end()) return false;
  subscriptions_.erase(it);
  return true;
}

bool EventBus::IsSubscribed(const std::string& name) const {
  return std::any_of(subscriptions_.begin(), subscriptions_.end(),
                     [&](const Subscription& s) { return s.name == name; });
}

size_t EventBus::Deliver(const std::string& name, const BindingProperty& payload) {
  return Deliver(name, nullptr, payload);
}

size_t EventBus::DeliverTo(const std::string& name, uint64_t hostHandle,
                           const BindingProperty& payload) {
  return Deliver(name, &hostHandle, payload);
}

size_t EventBus::Deliver(const std::string& name, const uint64_t* onlyHandle,
                         const BindingProperty& payload) {
  std::vector<Subscription> targets;
  for (const Subscription& s : subscriptions_) {
    if (s.name != name || !s.callback) continue;
    if (onlyHandle && s.hostHandle != *onlyHandle) continue;
    targets.push_back(s);
  }
  if (targets.empty()) return 0;
  HostValue encoded;
  std::memset(&encoded, 0, sizeof(encoded));
  if (!EncodeHostValue(payload, nullptr, encoded).success) return 0;
  size_t called = 0;
  for (const Subscription& target : targets) {
    const bool live = std::any_of(subscriptions_.begin(), subscriptions_.end(),
                                  [&](const Subscription& s) { return Same(s, target); });
    if (!live) continue;
    IncomingEventRecord record;
    std::memset(&record, 0, sizeof(record));
    record.name = target.name.c_str();
    record.payload = encoded;
    record.hostWord = target.hostHandle;
    record.context = target.context;
    target.callback(&record);
    ++called;
  }
  ReleaseHostValue(encoded);
  return called;
}

void EventBus::Queue(std::string name, BindingProperty payload) {
  queue_.push_back(QueuedEvent{std::move(name), std::move(payload)});
}

size_t EventBus::RunQueued() {
  // Only what was queued before: a delivery that queues more leaves it for
  // the next call.
  std::vector<QueuedEvent> batch;
  batch.swap(queue_);
  for (const QueuedEvent& event : batch) Deliver(event.name, event.payload);
  return batch.size();
}

void EventBus::Clear() {
  subscriptions_.clear();
  queue_.clear();
}

}  // namespace Zorv::Host
