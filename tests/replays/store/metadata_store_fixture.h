// The fixture of the MetadataStore tests: a store whose callbacks record what
// it publishes, looks up and schedules, on fake clocks (a wall clock fixed at
// kNowMs, a monotonic clock that AdvanceTo moves), with a captured log.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "logging/log.h"
#include "replays/store/metadata_store.h"
#include "support/capture_log_target.h"

namespace Zorv::Client::Replays::StoreTesting {

using Api::MetadataState;
using LCDS::ReplayResponseStatus;
using S = MetadataState;
using R = ReplayResponseStatus;

constexpr int64_t kNowMs = 1'700'000'000'000;  // the fake wall clock, in ms since 1970
constexpr int64_t kMinuteMs = 60'000;

inline std::string Detail(const std::string& message) {
  return "  OKAY| DBG;XTR| " + message + "\n";
}
inline std::string General(const std::string& message) {
  return "  OKAY| GEN| " + message + "\n";
}
inline std::string Warning(const std::string& message) {
  return "  WARN| DBG| " + message + "\n";
}

// Game type "TUTORIAL_GAME" and queue 850 are unsupported.
class FakeSupportChecker : public SupportChecker {
 public:
  bool IsSupported(const std::string& gameType, int32_t queueId) const override {
    return gameType != "TUTORIAL_GAME" && queueId != 850;
  }
};

struct Publication {
  Api::ReplayMetadata metadata;
  bool fromServerLookup;
  bool operator==(const Publication& other) const {
    return metadata.state == other.metadata.state && metadata.gameId == other.metadata.gameId &&
           metadata.downloadProgress == other.metadata.downloadProgress &&
           fromServerLookup == other.fromServerLookup;
  }
};

inline void PrintTo(const Publication& p, std::ostream* out) {
  *out << "{state " << static_cast<int>(p.metadata.state) << ", game " << p.metadata.gameId << ", "
       << p.metadata.downloadProgress << "%, server " << p.fromServerLookup << "}";
}

inline Publication Published(S state, uint64_t gameId, bool fromServerLookup = false,
                             uint32_t progress = 0) {
  return {{state, gameId, progress}, fromServerLookup};
}

struct ScheduledJob {
  std::string name;
  std::function<void()> function;
  MonotonicTime when;
};

// A store whose callbacks record what it publishes and schedules, on fake
// clocks: a wall clock fixed at kNowMs and a monotonic clock that Advance moves.
class MetadataStoreTest : public ::testing::Test {
 protected:
  MetadataStoreTest() {
    api_->acquire();
    api_->setLevel(0);
    api_->setSuppressedCategories(0, 0);
    capture.attach();
  }
  ~MetadataStoreTest() override {
    capture.detach();
    api_->release();
  }

  MetadataStoreCallbacks Callbacks() {
    return {
        [this](uint64_t gameId) -> FetchResult {
          lookups.push_back({gameId, monotonicNow.time_since_epoch()});
          if (duringLookup) std::exchange(duringLookup, nullptr)();
          if (answers[gameId].empty()) return MakeFailureText(0, "no answer scripted");
          FetchResult answer = answers[gameId].front();
          answers[gameId].erase(answers[gameId].begin());
          return answer;
        },
        [this](const Api::ReplayMetadata& metadata, bool fromServerLookup) {
          publications.push_back({metadata, fromServerLookup});
        },
        [this](std::string_view name, std::function<void()> function, MonotonicTime when) {
          jobs.push_back({std::string(name), std::move(function), when});
          return static_cast<uint64_t>(jobs.size());
        },
        [this](const std::string& version) { return !incompatibleVersions.contains(version); },
    };
  }
  MetadataStoreClocks Clocks() {
    return {[this] { return systemTime100ns; }, [this] { return monotonicNow; }};
  }

  // Runs every scheduled job due by `seconds` after the start, in time order.
  void AdvanceTo(int64_t seconds) {
    const MonotonicTime until{std::chrono::seconds(seconds)};
    for (;;) {
      auto next = std::min_element(jobs.begin(), jobs.end(),
                                   [](const auto& a, const auto& b) { return a.when < b.when; });
      if (next == jobs.end() || next->when > until) break;
      ScheduledJob job = std::move(*next);
      jobs.erase(next);
      monotonicNow = std::max(monotonicNow, job.when);
      job.function();
    }
    monotonicNow = until;
  }

  static LCDS::MultipleReplayMetadataResponseItemV2 Answer(R status, std::string version = "") {
    return {0, status, {std::move(version), 0}};
  }

  std::vector<std::string> TakeLines() {
    std::vector<std::string> lines = capture.lines();
    capture.clear();
    return lines;
  }
  std::vector<Publication> TakePublications() { return std::exchange(publications, {}); }

  int64_t systemTime100ns = kNowMs * 10'000;
  MonotonicTime monotonicNow{};
  std::set<std::string> incompatibleVersions;
  std::map<uint64_t, std::vector<FetchResult>> answers;
  std::vector<std::pair<uint64_t, std::chrono::nanoseconds>> lookups;  // game, when
  std::vector<Publication> publications;
  std::vector<ScheduledJob> jobs;
  std::function<void()> duringLookup;  // runs once, inside the next lookup
  Testing::CaptureLogTarget capture;
  const LoggerApi* api_ = GetLoggerApi();
  MetadataStore store{Callbacks(), std::make_unique<FakeSupportChecker>(), Clocks()};
};

}  // namespace Zorv::Client::Replays::StoreTesting
