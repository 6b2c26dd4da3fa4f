// HarnessPlugin: the ReplaysPlugin with the test as its host, for unit tests
// of its handlers and callbacks. It registers its API and starts at
// construction; every event it publishes is kept, decoded, in `events`.
// The configuration is open for the test to set.
#pragma once

#include <string>
#include <vector>

#include "binding/binding_property.h"
#include "framework/hostapi/host_value_codec.h"
#include "replays/plugin/replays_plugin.h"

namespace Zorv::Client::Replays::Testing {

class HarnessPlugin : public ReplaysPlugin {
 public:
  struct Event {
    std::string name;
    BindingProperty payload;
    uint32_t eventType;
  };

  HarnessPlugin() {
    RegisterApi();
    Start();
  }

  void SendEvent(const EventRecord* event) override {
    events.push_back(Event{event->name, DecodeHostValue(event->payload).value, event->eventType});
  }

  Api::ReplaysConfiguration& mutableConfiguration() { return configuration_; }

  std::vector<Event> events;
};

}  // namespace Zorv::Client::Replays::Testing
