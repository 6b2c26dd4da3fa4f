#include "replays/metrics/replay_metrics.h"

#include <string>
#include <utility>

#include "binding/binding_property.h"
#include "framework/telemetry/telemetry_sender.h"

namespace Zorv::Client::Replays {
namespace {

constexpr std::string_view kUnknown = "unknown";
constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kTicksPerMillisecond = 10'000;

}  // namespace

std::string_view MetricGroupName(MetricGroup group) {
  switch (group) {
    case MetricGroup::DownloadingReplay:
      return "tnk-be-pex-replays.downloadingReplay";
    case MetricGroup::LaunchingReplay:
      return "tnk-be-pex-replays.launchingReplay";
    case MetricGroup::WatchingReplay:
      return "tnk-be-pex-replays.watchingReplay";
  }
  return {};
}

std::string_view MetricStepName(MetricStep step) {
  switch (step) {
    case MetricStep::Click:
      return "click";
    case MetricStep::MetadataRequest:
      return "metadata-request";
    case MetricStep::MetadataResponseOk:
      return "metadata-response-ok";
    case MetricStep::MetadataResponseError:
      return "metadata-response-error";
    case MetricStep::TrecUrlRequest:
      return "trec-url-request";
    case MetricStep::TrecUrlResponseOk:
      return "trec-url-response-ok";
    case MetricStep::TrecUrlResponseError:
      return "trec-url-response-error";
    case MetricStep::TrecDownloadRequest:
      return "trec-download-request";
    case MetricStep::TrecDownloadOk:
      return "trec-download-ok";
    case MetricStep::TrecDownloadError:
      return "trec-download-error";
    case MetricStep::ProcessingAnomaly:
      return "processing-anomaly";
    case MetricStep::LaunchRequest:
      return "launch-request";
    case MetricStep::LaunchOk:
      return "launch-ok";
    case MetricStep::LaunchError:
      return "launch-error";
    case MetricStep::GameLaunched:
      return "game-launched";
    case MetricStep::GameTerminated:
      return "game-terminated";
  }
  return {};
}

ReplayMetrics::ReplayMetrics(TelemetrySender* sink, WallClock clock)
    : sessionStart_(std::to_string(clock() / kTicksPerSecond)),
      sink_(sink),
      clock_(std::move(clock)) {}

ReplayMetrics::~ReplayMetrics() = default;

void ReplayMetrics::SendDownloadClick(uint64_t gameId, std::string_view componentType,
                                      bool graceful) {
  MetricEvent event = NewEvent(MetricStepName(MetricStep::Click), gameId);
  StartSequence(event, gameId, componentType);
  event["graceful"] = graceful ? "true" : "false";
  Send(MetricGroup::DownloadingReplay, event);
}

void ReplayMetrics::SendLaunchClick(uint64_t gameId, std::string_view componentType) {
  MetricEvent event = NewEvent(MetricStepName(MetricStep::Click), gameId);
  StartSequence(event, gameId, componentType);
  Send(MetricGroup::LaunchingReplay, event);
}

void ReplayMetrics::SendStep(MetricGroup group, MetricStep step, uint64_t gameId) {
  MetricEvent event = NewEvent(MetricStepName(step), gameId);
  AddSequence(event, gameId);
  Send(group, event);
}

void ReplayMetrics::SendStep(MetricGroup group, MetricStep step, uint64_t gameId,
                             std::string_view response) {
  MetricEvent event = NewEvent(MetricStepName(step), gameId);
  AddSequence(event, gameId);
  event["response"] = response;
  Send(group, event);
}

void ReplayMetrics::SendDownloadOk(uint64_t gameId, uint64_t trecSize) {
  MetricEvent event = NewEvent(MetricStepName(MetricStep::TrecDownloadOk), gameId);
  AddSequence(event, gameId);
  event["trecSize"] = std::to_string(trecSize);
  Send(MetricGroup::DownloadingReplay, event);
}

MetricEvent ReplayMetrics::NewEvent(std::string_view step, uint64_t gameId) const {
  MetricEvent event;
  event["sessionStartEpochSeconds"] = sessionStart_;
  event["timeMillis"] = std::to_string(clock_() / kTicksPerMillisecond);
  event["step"] = step;
  event["gameId"] = std::to_string(gameId);
  return event;
}

void ReplayMetrics::AddSequence(MetricEvent& event, uint64_t gameId) const {
  const auto found = sequences_.find(gameId);
  if (found == sequences_.end()) {
    event["sequence"] = kUnknown;
    event["componentType"] = kUnknown;
    return;
  }
  event["sequence"] = std::to_string(found->second.number);
  event["componentType"] = found->second.componentType;
}

void ReplayMetrics::StartSequence(MetricEvent& event, uint64_t gameId,
                                  std::string_view componentType) {
  sequences_[gameId] = Sequence{nextSequence_++, std::string(componentType)};
  AddSequence(event, gameId);
}

void ReplayMetrics::Send(MetricGroup group, const MetricEvent& event) {
  if (sink_ == nullptr) {
    return;
  }
  BindingProperty fields;
  fields.makeStructure();
  for (const auto& [key, value] : event) {
    fields.field(key) = value;
  }
  // The result is already there when Send returns; nobody waits for it.
  (void)sink_->Send(MetricGroupName(group), fields);
}

}  // namespace Zorv::Client::Replays
