// HarnessPlugin: the ReplaysPlugin with the test as its host, for unit tests
// of its handlers and callbacks. It registers its API and starts at
// construction; every event it publishes is kept, decoded, in `events`, and
// every telemetry event in `telemetry`. Host calls are answered by
// `answerCall` (none set: 404, so no resource has a value at start-up);
// subscriptions are recorded and Deliver hands them resource events the way
// the host does; scheduled jobs are recorded, never run. The
// configuration and the watched game are open for the test to set.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding_property.h"
#include "framework/events/event_name.h"
#include "framework/hostapi/host_value_codec.h"
#include "framework/module/framework_types.h"
#include "framework/telemetry/telemetry_sender.h"
#include "replays/plugin/replays_plugin.h"
#include "support/fake_host_module.h"

namespace Zorv::Client::Replays::Testing {

class HarnessPlugin : public ReplaysPlugin {
 public:
  struct Event {
    std::string name;
    BindingProperty payload;
    uint32_t eventType;
  };
  struct Telemetry {
    std::string name;
    BindingProperty fields;
  };

  HarnessPlugin() {
    // As Register does: the framework's types (resource events among them) first.
    RegisterFrameworkTypes(apiRegistry());
    RegisterApi();
    Start();
    metrics_ = std::make_unique<ReplayMetrics>(&sender_);
  }
  ~HarnessPlugin() override { metrics_.reset(); }

  // Host calls: `answerCall` answers, or every call fails with 404.
  std::function<void(CallResult*, const CallRecord*)> answerCall;
  void CallFunction(CallResult* result, const CallRecord* call) override {
    calls.emplace_back(call->url ? call->url : "");
    if (answerCall) {
      answerCall(result, call);
    } else {
      Zorv::Testing::FakeHostModule::AnswerError(result, "no such resource", 404);
    }
  }
  void SendEvent(const EventRecord* event) override {
    events.push_back(Event{event->name, DecodeHostValue(event->payload).value, event->eventType});
  }
  void SubscribeEvent(const char* name, uint32_t, HostEventCallback callback, void* context,
                      uint32_t) override {
    subscribed.emplace_back(name);
    callbacks_[name] = {callback, context};
  }
  using ReplaysPlugin::ScheduleCallback;
  void UnsubscribeEvent(const char*, uint32_t) override {}
  void ScheduleCallback(const char* name, HostTimerCallback, void*, double, uint32_t) override {
    scheduled.emplace_back(name);
  }

  // Sends the resource event {uri, eventType, data} of `url` through the
  // module's event callback; false when nothing follows the resource.
  bool Deliver(const std::string& url, PluginResourceEventType kind, const BindingProperty& data) {
    static constexpr const char* kKinds[] = {"Create", "Update", "Delete"};
    const auto found = callbacks_.find(EventNameForUrl(url));
    if (found == callbacks_.end()) return false;
    BindingProperty payload;
    payload.field("uri") = url;
    payload.field("eventType") = kKinds[static_cast<int>(kind)];
    payload.field("data") = data;
    HostValue encoded;
    std::memset(&encoded, 0, sizeof encoded);
    if (!EncodeHostValue(payload, nullptr, encoded).success) return false;
    IncomingEventRecord record;
    std::memset(&record, 0, sizeof record);
    record.name = found->first.c_str();
    std::memcpy(&record.payload, &encoded, sizeof encoded);
    record.context = found->second.second;
    found->second.first(&record);
    ReleaseHostValue(encoded);
    return true;
  }

  Api::ReplaysConfiguration& mutableConfiguration() { return configuration_; }
  void SetWatchingGameId(std::optional<uint64_t> gameId) { watchingGameId_ = gameId; }

  std::vector<Event> events;
  std::vector<Telemetry> telemetry;
  std::vector<std::string> calls;
  std::vector<std::string> subscribed;
  std::vector<std::string> scheduled;

 private:
  class RecordingSender : public TelemetrySender {
   public:
    explicit RecordingSender(HarnessPlugin* owner) : TelemetrySender(owner), owner_(owner) {}
    std::future<MaybeType<Failure, void>> Send(std::string_view eventName,
                                               const BindingProperty& fields) override {
      owner_->telemetry.push_back(Telemetry{std::string(eventName), fields});
      std::promise<MaybeType<Failure, void>> done;
      done.set_value(MaybeType<Failure, void>());
      return done.get_future();
    }

   private:
    HarnessPlugin* owner_;
  };
  RecordingSender sender_{this};
  std::map<std::string, std::pair<HostEventCallback, void*>> callbacks_;
};

}  // namespace Zorv::Client::Replays::Testing
