// ReplayMetrics: turns the steps of the three replay journeys (downloading a
// replay, launching it, watching it) into telemetry events and hands them to
// the module's telemetry sender.
//
//   ReplayMetrics metrics(module.telemetrySender());
//   metrics.SendDownloadClick(gameId, context.componentType, /*graceful=*/false);
//   metrics.SendStep(MetricGroup::DownloadingReplay, MetricStep::MetadataRequest, gameId);
//
// Every event is a flat map of texts: "sessionStartEpochSeconds",
// "timeMillis", "step", "gameId", "sequence", "componentType", then the step's
// own keys. A click starts a new sequence for its game from one counter shared
// by all journeys (1, 2, ...); every later event of that game carries the
// game's latest sequence and component type, and a game that never had a
// click carries "unknown" for both.
//
// Sending never fails for the caller: the sender's result is dropped unread.
// Not thread-safe: the module's handlers and jobs run one at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/clock.h"

namespace Zorv::Client {
class TelemetrySender;
}

namespace Zorv::Client::Replays {

// One telemetry event's fields, key to text.
using MetricEvent = std::unordered_map<std::string, std::string>;

// The journeys; each is one telemetry event name.
enum class MetricGroup { DownloadingReplay, LaunchingReplay, WatchingReplay };

// The steps of all journeys.
enum class MetricStep {
  Click,
  MetadataRequest,
  MetadataResponseOk,
  MetadataResponseError,
  TrecUrlRequest,
  TrecUrlResponseOk,
  TrecUrlResponseError,
  TrecDownloadRequest,
  TrecDownloadOk,
  TrecDownloadError,
  ProcessingAnomaly,
  LaunchRequest,
  LaunchOk,
  LaunchError,
  GameLaunched,
  GameTerminated,
};

// The telemetry event name: "tnk-be-pex-replays." and the journey's name.
std::string_view MetricGroupName(MetricGroup group);
// The "step" text, such as "trec-download-ok".
std::string_view MetricStepName(MetricStep step);

class ReplayMetrics {
 public:
  // The wall clock in 100-ns ticks since 1970-01-01 00:00:00 UTC.
  using WallClock = std::function<int64_t()>;

  // The session starts now, by `clock`. A null sink sends nothing (the module
  // has no telemetry sender before it is initialized); sequences still count.
  // REQUIRES: sink, when given, outlives this object; clock is callable.
  explicit ReplayMetrics(TelemetrySender* sink, WallClock clock = Platform::SystemTime100ns);
  virtual ~ReplayMetrics();
  ReplayMetrics(const ReplayMetrics&) = delete;
  ReplayMetrics& operator=(const ReplayMetrics&) = delete;

  // ---- Emissions -------------------------------------------------------------------------------
  // "click" of the download journey: a new sequence, and "graceful".
  void SendDownloadClick(uint64_t gameId, std::string_view componentType, bool graceful);
  // "click" of the launch journey: a new sequence.
  void SendLaunchClick(uint64_t gameId, std::string_view componentType);
  // Any other step, with the game's current sequence.
  void SendStep(MetricGroup group, MetricStep step, uint64_t gameId);
  // A step that describes its outcome in "response" (errors, anomalies,
  // "metadata-response-ok").
  void SendStep(MetricGroup group, MetricStep step, uint64_t gameId, std::string_view response);
  // "trec-download-ok" of the download journey, with "trecSize".
  void SendDownloadOk(uint64_t gameId, uint64_t trecSize);

  // ---- Building blocks of the emissions --------------------------------------------------------
  // "sessionStartEpochSeconds", "timeMillis" (now), "step" and "gameId".
  MetricEvent NewEvent(std::string_view step, uint64_t gameId) const;
  // The game's current "sequence" and "componentType", or "unknown" for both.
  void AddSequence(MetricEvent& event, uint64_t gameId) const;
  // Takes the next sequence number for the game, replacing its earlier one,
  // and sets "sequence" and "componentType" from it.
  void StartSequence(MetricEvent& event, uint64_t gameId, std::string_view componentType);
  // Hands the event to the sink under the group's name and drops the result.
  void Send(MetricGroup group, const MetricEvent& event);

 private:
  struct Sequence {
    uint32_t number = 0;
    std::string componentType;
  };

  uint32_t nextSequence_ = 1;
  std::string sessionStart_;
  TelemetrySender* sink_;
  WallClock clock_;
  std::unordered_map<uint64_t, Sequence> sequences_;
};

}  // namespace Zorv::Client::Replays
