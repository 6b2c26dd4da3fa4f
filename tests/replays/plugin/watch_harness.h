// WatchHarness: the HarnessPlugin with host resources behind its host calls,
// for the handlers that call the host (the watch action). Each CallFunction
// is decoded and answered by `resources` (the host library's table: scripted
// handlers and plain JSON resources, every call kept in order) and the answer
// crosses back as a host fills it. Metrics go out through a telemetry sender
// of this module, so they arrive as calls too.
//
// `timeline` keeps, in the order they happened, the plug-in's log lines
// ("LEVEL| CATEGORIES| message"), its host calls ("METHOD url argument",
// telemetry as "metric <event> <step>[: <response>]") and its published
// events ("event name payload").
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "binding/json_writer.h"
#include "framework/telemetry/telemetry_sender.h"
#include "host/call_answer.h"
#include "host/resource_table.h"
#include "plugin_harness.h"
#include "support/capture_log_target.h"

namespace Zorv::Client::Replays::Testing {

class WatchHarness : public HarnessPlugin {
 public:
  static constexpr char kTelemetryPrefix[] = "/telemetry/v1/events/tnk-be-pex-replays.";

  // REQUIRES: capture is attached to the Logger and outlives the harness.
  explicit WatchHarness(const Zorv::Testing::CaptureLogTarget& capture) : capture_(capture) {
    telemetrySender_ = std::make_unique<TelemetrySender>(this);
    metrics_ = std::make_unique<ReplayMetrics>(telemetrySender_.get());
    taken_ = capture_.entries().size();
  }

  void CallFunction(CallResult* result, const CallRecord* call) override {
    Host::CallRequest request;
    std::string error;
    if (!Host::DecodeCallRecord(*call, request, error)) {
      Note("undecodable call: " + error);
      Host::FillCallResult(result, Host::CallAnswer::Error(error, 400), ledger);
      return;
    }
    Note(Describe(request));
    Host::FillCallResult(result, resources.Route(request), ledger);
  }

  void SendEvent(const EventRecord* event) override {
    HarnessPlugin::SendEvent(event);
    Note("event " + events.back().name + " " + ToJsonText(events.back().payload));
  }

  std::optional<uint64_t>& mutableWatchingGameId() { return watchingGameId_; }

  // The timeline up to now, log lines included.
  const std::vector<std::string>& Timeline() {
    TakeLogLines();
    return timeline_;
  }

  Host::ResourceTable resources{[](const std::string&, const BindingProperty&) {}};
  std::shared_ptr<Host::CallLedger> ledger = std::make_shared<Host::CallLedger>();

 private:
  static std::string Describe(const Host::CallRequest& request) {
    if (request.url.rfind(kTelemetryPrefix, 0) == 0 && request.arguments.size() == 1) {
      const BindingProperty& fields = request.arguments[0];
      std::string text = "metric " + request.url.substr(sizeof kTelemetryPrefix - 1) + " " +
                         std::string(fields.find("step").asString());
      if (!fields.find("response").isEmpty()) {
        text += ": ";
        text += fields.find("response").asString();
      }
      return text;
    }
    std::string text = request.methodText + " " + request.url;
    for (const BindingProperty& argument : request.arguments) text += " " + ToJsonText(argument);
    return text;
  }
  void TakeLogLines() {
    const std::vector<Zorv::Testing::CaptureLogTarget::Entry> entries = capture_.entries();
    for (; taken_ < entries.size(); ++taken_) {
      std::string line = entries[taken_].line;
      if (!line.empty() && line.back() == '\n') line.pop_back();
      timeline_.push_back(std::move(line));
    }
  }
  void Note(std::string text) {
    TakeLogLines();
    timeline_.push_back(std::move(text));
  }

  const Zorv::Testing::CaptureLogTarget& capture_;
  size_t taken_ = 0;
  std::vector<std::string> timeline_;
};

}  // namespace Zorv::Client::Replays::Testing
