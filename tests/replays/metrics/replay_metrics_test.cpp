#include "replays/metrics/replay_metrics.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "framework/telemetry/telemetry_sender.h"
#include "support/fake_host_module.h"

namespace Zorv::Client::Replays {
namespace {

using Testing::FakeHostModule;
using Fields = std::map<std::string, std::string>;

// One telemetry event as the host received it.
struct SentEvent {
  std::string name;
  Fields fields;
  bool operator==(const SentEvent&) const = default;
};

void PrintTo(const SentEvent& event, std::ostream* out) {
  *out << event.name << " {";
  for (const auto& [key, value] : event.fields) *out << " " << key << "=" << value;
  *out << " }";
}

constexpr std::string_view kEventsUrl = "/telemetry/v1/events/";
constexpr const char* kDownloading = "tnk-be-pex-replays.downloadingReplay";
constexpr const char* kLaunching = "tnk-be-pex-replays.launchingReplay";
constexpr const char* kWatching = "tnk-be-pex-replays.watchingReplay";

// 2025-12-11 05:48:43.987654 UTC in 100-ns ticks: whole seconds 1765432123.
constexpr int64_t kSessionStartTicks = 17'654'321'239'876'543;
constexpr const char* kSessionStart = "1765432123";

// Metrics over the real telemetry sender of a module whose host is the test,
// on a wall clock that the test moves.
class ReplayMetricsTest : public ::testing::Test {
 protected:
  // Moves the wall clock forward by `ticks` of 100 ns.
  void Advance(int64_t ticks) { now_ += ticks; }

  // Every event posted so far. A field that is not a text shows as its kind.
  std::vector<SentEvent> Sent() const {
    std::vector<SentEvent> sent;
    for (const FakeHostModule::RecordedCall& call : module_.calls) {
      EXPECT_EQ(call.method, 6u);  // POST
      EXPECT_EQ(call.url.rfind(kEventsUrl, 0), 0u) << call.url;
      SentEvent event{call.url.substr(kEventsUrl.size()), {}};
      EXPECT_EQ(call.arguments.size(), 1u);
      for (const auto& field : call.arguments.at(0).fields()) {
        event.fields[std::string(field.name)] =
            field.value.kind() == ValueKind::String
                ? std::string(field.value.asString())
                : "<" + std::string(field.value.kindName()) + ">";
      }
      sent.push_back(std::move(event));
    }
    return sent;
  }

  // The fields every event carries, then the step's own.
  static Fields Event(const char* timeMillis, const char* step, const char* gameId,
                      const char* sequence, const char* componentType, Fields extra = {}) {
    Fields fields{{"sessionStartEpochSeconds", kSessionStart},
                  {"timeMillis", timeMillis},
                  {"step", step},
                  {"gameId", gameId},
                  {"sequence", sequence},
                  {"componentType", componentType}};
    fields.merge(extra);
    return fields;
  }

  int64_t now_ = kSessionStartTicks;
  FakeHostModule module_;
  TelemetrySender sender_{&module_};
  ReplayMetrics metrics_{&sender_, [this] { return now_; }};
};

TEST_F(ReplayMetricsTest, ClicksOfBothJourneysShareOneCounterAndLaterStepsCarryTheLatest) {
  constexpr uint64_t gameA = 4'200'000'001;
  constexpr uint64_t gameB = 7;

  Advance(1);
  metrics_.SendDownloadClick(gameA, "match-history", false);
  Advance(9'999);  // exactly one millisecond later than the session start
  metrics_.SendLaunchClick(gameB, "post-game");
  Advance(12'345'678);
  metrics_.SendDownloadClick(gameA, "profile", true);
  Advance(10'000);
  metrics_.SendDownloadOk(gameA, 5'000'000'000);
  Advance(10'000);
  metrics_.SendStep(MetricGroup::LaunchingReplay, MetricStep::LaunchOk, gameB);
  Advance(10'000'000);
  metrics_.SendStep(MetricGroup::WatchingReplay, MetricStep::GameTerminated, gameB);

  const std::vector<SentEvent> expected{
      {kDownloading, Event("1765432123987", "click", "4200000001", "1", "match-history",
                           {{"graceful", "false"}})},
      {kLaunching, Event("1765432123988", "click", "7", "2", "post-game")},
      {kDownloading,
       Event("1765432125223", "click", "4200000001", "3", "profile", {{"graceful", "true"}})},
      {kDownloading, Event("1765432125224", "trec-download-ok", "4200000001", "3", "profile",
                           {{"trecSize", "5000000000"}})},
      {kLaunching, Event("1765432125225", "launch-ok", "7", "2", "post-game")},
      {kWatching, Event("1765432126225", "game-terminated", "7", "2", "post-game")},
  };
  EXPECT_EQ(Sent(), expected);
}

TEST_F(ReplayMetricsTest, AGameWithoutAClickCarriesUnknownSequenceAndComponentType) {
  constexpr uint64_t clicked = 11;
  constexpr uint64_t automatic = 12;
  constexpr uint64_t largest = std::numeric_limits<uint64_t>::max();

  metrics_.SendStep(MetricGroup::DownloadingReplay, MetricStep::MetadataRequest, automatic);
  metrics_.SendDownloadClick(clicked, "lobby", false);
  metrics_.SendStep(MetricGroup::DownloadingReplay, MetricStep::TrecDownloadError, automatic,
                    "no body");
  metrics_.SendStep(MetricGroup::WatchingReplay, MetricStep::GameLaunched, largest);

  const char* time = "1765432123987";
  const std::vector<SentEvent> expected{
      {kDownloading, Event(time, "metadata-request", "12", "unknown", "unknown")},
      {kDownloading, Event(time, "click", "11", "1", "lobby", {{"graceful", "false"}})},
      {kDownloading,
       Event(time, "trec-download-error", "12", "unknown", "unknown", {{"response", "no body"}})},
      {kWatching, Event(time, "game-launched", "18446744073709551615", "unknown", "unknown")},
  };
  EXPECT_EQ(Sent(), expected);
}

// Every step that is not a click or the download's success (those are above):
// its event name, its step text, and "response" exactly when it takes one.
TEST_F(ReplayMetricsTest, EachStepGoesToItsJourneyWithItsOwnKeys) {
  using G = MetricGroup;
  using S = MetricStep;
  struct Case {
    MetricGroup group;
    MetricStep step;
    const char* response;  // null: the step has no "response"
    const char* name;
    const char* stepText;
  };
  // clang-format off
  const std::vector<Case> cases{
      {G::DownloadingReplay, S::MetadataRequest,       nullptr,     kDownloading, "metadata-request"},
      {G::DownloadingReplay, S::MetadataResponseOk,    "ok",        kDownloading, "metadata-response-ok"},
      {G::DownloadingReplay, S::MetadataResponseError, "timeout",   kDownloading, "metadata-response-error"},
      {G::DownloadingReplay, S::TrecUrlRequest,        nullptr,     kDownloading, "trec-url-request"},
      {G::DownloadingReplay, S::TrecUrlResponseOk,     nullptr,     kDownloading, "trec-url-response-ok"},
      {G::DownloadingReplay, S::TrecUrlResponseError,  "no url",    kDownloading, "trec-url-response-error"},
      {G::DownloadingReplay, S::TrecDownloadRequest,   nullptr,     kDownloading, "trec-download-request"},
      {G::DownloadingReplay, S::TrecDownloadError,     "HTTP 404",  kDownloading, "trec-download-error"},
      {G::DownloadingReplay, S::ProcessingAnomaly,     "bad name",  kDownloading, "processing-anomaly"},
      {G::LaunchingReplay,   S::ProcessingAnomaly,     "file gone", kLaunching,   "processing-anomaly"},
      {G::LaunchingReplay,   S::LaunchRequest,         nullptr,     kLaunching,   "launch-request"},
      {G::LaunchingReplay,   S::LaunchOk,              nullptr,     kLaunching,   "launch-ok"},
      {G::LaunchingReplay,   S::LaunchError,           "busy",      kLaunching,   "launch-error"},
      {G::WatchingReplay,    S::GameLaunched,          nullptr,     kWatching,    "game-launched"},
      {G::WatchingReplay,    S::GameTerminated,        nullptr,     kWatching,    "game-terminated"},
  };
  // clang-format on
  constexpr uint64_t game = 99;
  metrics_.SendLaunchClick(game, "c");
  for (const Case& c : cases) {
    if (c.response) {
      metrics_.SendStep(c.group, c.step, game, c.response);
    } else {
      metrics_.SendStep(c.group, c.step, game);
    }
  }

  const std::vector<SentEvent> sent = Sent();
  ASSERT_EQ(sent.size(), cases.size() + 1);
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.stepText);
    Fields extra;
    if (c.response) extra["response"] = c.response;
    EXPECT_EQ(
        sent[i + 1],
        (SentEvent{c.name, Event("1765432123987", c.stepText, "99", "1", "c", std::move(extra))}));
  }
}

TEST_F(ReplayMetricsTest, AFailedPostReachesNoCallerAndLaterEventsStillGo) {
  module_.answerCall = [](CallResult* result, const CallRecord*) {
    FakeHostModule::AnswerError(result, "telemetry is off", 503);
  };
  metrics_.SendDownloadClick(5, "lobby", false);
  metrics_.SendStep(MetricGroup::DownloadingReplay, MetricStep::TrecUrlRequest, 5);

  const std::vector<SentEvent> sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].fields, Event("1765432123987", "trec-url-request", "5", "1", "lobby"));
  EXPECT_EQ(FakeHostModule::releases, 2);  // each error answer handed back to the host
}

TEST_F(ReplayMetricsTest, WithoutASinkNothingIsSentButSequencesStillCount) {
  ReplayMetrics quiet(nullptr, [this] { return now_; });
  quiet.SendDownloadClick(1, "lobby", false);
  quiet.SendStep(MetricGroup::WatchingReplay, MetricStep::GameLaunched, 1);

  MetricEvent event = quiet.NewEvent("click", 2);
  quiet.StartSequence(event, 2, "profile");
  EXPECT_EQ(event, (MetricEvent{{"sessionStartEpochSeconds", kSessionStart},
                                {"timeMillis", "1765432123987"},
                                {"step", "click"},
                                {"gameId", "2"},
                                {"sequence", "2"},
                                {"componentType", "profile"}}));
  EXPECT_TRUE(module_.calls.empty());
}

}  // namespace
}  // namespace Zorv::Client::Replays
