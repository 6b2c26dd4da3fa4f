#include "replays/store/metadata_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "logging/log.h"
#include "support/capture_log_target.h"

namespace Zorv::Client::Replays {
namespace {

using Api::MetadataState;
using LCDS::ReplayResponseStatus;
using S = MetadataState;
using R = ReplayResponseStatus;

constexpr int64_t kTicksPerSecond = 10'000'000;  // 100-ns ticks
constexpr int64_t kNowMs = 1'700'000'000'000;    // the fake wall clock, in ms since 1970
constexpr int64_t kMinuteMs = 60'000;

std::string Detail(const std::string& message) {
  return "  OKAY| DBG;XTR| " + message + "\n";
}
std::string General(const std::string& message) {
  return "  OKAY| GEN| " + message + "\n";
}
std::string Warning(const std::string& message) {
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

void PrintTo(const Publication& p, std::ostream* out) {
  *out << "{state " << static_cast<int>(p.metadata.state) << ", game " << p.metadata.gameId << ", "
       << p.metadata.downloadProgress << "%, server " << p.fromServerLookup << "}";
}

Publication Published(S state, uint64_t gameId, bool fromServerLookup = false,
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

TEST_F(MetadataStoreTest, CreatesRecordsInDownloadAndLogsWithoutPublishing) {
  EXPECT_EQ(store.FindRecord(7), nullptr);
  ReplayRecord& record = store.GetOrCreateRecord(7);
  EXPECT_EQ(record.metadata.state, S::download);
  EXPECT_EQ(record.metadata.gameId, 7u);
  EXPECT_EQ(record.metadata.downloadProgress, 0u);
  EXPECT_FALSE(record.serverStatus.has_value());
  EXPECT_EQ(record.queueId, -1);
  EXPECT_EQ(record.gameEnd, 0u);
  EXPECT_TRUE(record.trecPath.empty() && record.gameVersion.empty() && record.gameType.empty());
  EXPECT_EQ(&store.GetOrCreateRecord(7), &record);
  EXPECT_EQ(store.FindRecord(7), &record);
  EXPECT_EQ(TakeLines(),
            std::vector<std::string>{Detail("MetadataStore: update Replay '7', state->Download")});
  EXPECT_TRUE(publications.empty());
}

// Every row: a record as a caller left it, one UpdateMetadataState, and what
// the store then shows, publishes and logs.
TEST_F(MetadataStoreTest, UpdateMetadataStateFollowsTheStateTable) {
  struct Case {
    std::string name;
    S before;
    std::optional<R> serverStatus;
    bool moreCallsLeft;
    std::string trecPath, gameVersion, gameType;
    int32_t queueId;
    S after;
    std::vector<std::string> messages;
  };
  const std::string kUpdate = "MetadataStore: Update metadata state of game '1', state->";
  const std::string kEnded = "MetadataStore: Replay '1' ended at time 0";
  const Case cases[] = {
      {"ok", S::checking, R::OK, false, "", "", "", -1, S::found, {kUpdate + "ok"}},
      {"not found, calls left",
       S::checking,
       R::NOT_FOUND,
       true,
       "",
       "",
       "",
       -1,
       S::checking,
       {kUpdate + "notFound"}},
      {"not found, last call",
       S::checking,
       R::NOT_FOUND,
       false,
       "",
       "",
       "",
       -1,
       S::retryDownload,
       {kUpdate + "notFound", kEnded}},
      {"expired",
       S::download,
       R::EXPIRED,
       false,
       "",
       "",
       "",
       -1,
       S::missingOrExpired,
       {kUpdate + "expired"}},
      {"bad request keeps the state",
       S::checking,
       R::BAD_REQUEST,
       false,
       "",
       "",
       "",
       -1,
       S::checking,
       {kUpdate + "badRequest"}},
      {"bad request keeps retryDownload",
       S::retryDownload,
       R::BAD_REQUEST,
       false,
       "",
       "",
       "",
       -1,
       S::retryDownload,
       {kUpdate + "badRequest", kEnded}},
      {"internal server error",
       S::retryDownload,
       R::INTERNAL_SERVER_ERROR,
       true,
       "",
       "",
       "",
       -1,
       S::error,
       {kUpdate + "internalServerError"}},
      {"no status keeps found", S::found, std::nullopt, false, "", "", "", -1, S::found, {}},
      {"no status keeps downloading",
       S::downloading,
       std::nullopt,
       false,
       "",
       "",
       "",
       -1,
       S::downloading,
       {}},
      {"unsupported is undone",
       S::unsupported,
       std::nullopt,
       false,
       "",
       "",
       "",
       -1,
       S::download,
       {}},
      {"incompatible is undone",
       S::incompatible,
       std::nullopt,
       false,
       "",
       "",
       "",
       -1,
       S::download,
       {}},
      {"lost is undone without a game end",
       S::lost,
       std::nullopt,
       false,
       "",
       "",
       "",
       -1,
       S::retryDownload,
       {kEnded}},
      {"a file means watch, even after an error",
       S::error,
       R::INTERNAL_SERVER_ERROR,
       false,
       "/r/1.trec",
       "",
       "",
       -1,
       S::watch,
       {kUpdate + "internalServerError"}},
      {"a file means watch, even when lost",
       S::lost,
       std::nullopt,
       false,
       "/r/1.trec",
       "",
       "",
       -1,
       S::watch,
       {kEnded}},
      {"unsupported game type beats the file",
       S::watch,
       std::nullopt,
       false,
       "/r/1.trec",
       "",
       "TUTORIAL_GAME",
       420,
       S::unsupported,
       {"MetadataStore: update Replay '1', state->Unsupported"}},
      {"unsupported queue",
       S::download,
       std::nullopt,
       false,
       "",
       "",
       "CLASSIC",
       850,
       S::unsupported,
       {"MetadataStore: update Replay '1', state->Unsupported"}},
      {"no queue id, no support verdict",
       S::watch,
       std::nullopt,
       false,
       "/r/1.trec",
       "",
       "TUTORIAL_GAME",
       -1,
       S::watch,
       {}},
      {"no game type, no support verdict",
       S::download,
       std::nullopt,
       false,
       "",
       "",
       "",
       850,
       S::download,
       {}},
      {"incompatible version beats the file",
       S::watch,
       std::nullopt,
       false,
       "/r/1.trec",
       "9.9",
       "",
       -1,
       S::incompatible,
       {"MetadataStore: update Replay '1', state->Incompatible"}},
      {"incompatible version beats found",
       S::checking,
       R::OK,
       false,
       "",
       "9.9",
       "CLASSIC",
       420,
       S::incompatible,
       {kUpdate + "ok", "MetadataStore: update Replay '1', state->Incompatible"}},
      {"unsupported skips the version test",
       S::download,
       std::nullopt,
       false,
       "",
       "9.9",
       "TUTORIAL_GAME",
       1,
       S::unsupported,
       {"MetadataStore: update Replay '1', state->Unsupported"}},
      {"compatible version",
       S::watch,
       std::nullopt,
       false,
       "/r/1.trec",
       "10.5.1.2",
       "CLASSIC",
       420,
       S::watch,
       {}},
  };
  incompatibleVersions = {"9.9"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReplayRecord& record = store.GetOrCreateRecord(1);
    record.metadata.state = c.before;
    record.serverStatus = c.serverStatus;
    record.trecPath = c.trecPath;
    record.gameVersion = c.gameVersion;
    record.gameType = c.gameType;
    record.queueId = c.queueId;
    capture.clear();
    publications.clear();

    store.UpdateMetadataState(record, c.moreCallsLeft, true);

    EXPECT_EQ(record.metadata.state, c.after);
    std::vector<Publication> expected;
    if (c.after != c.before) expected.push_back(Published(c.after, 1, true));
    EXPECT_EQ(TakePublications(), expected);
    std::vector<std::string> lines;
    for (const std::string& message : c.messages) lines.push_back(Detail(message));
    EXPECT_EQ(TakeLines(), lines);
  }
}

TEST_F(MetadataStoreTest, PublishesWithTheCallersFlagOnlyOnAVisibleChange) {
  ReplayRecord& record = store.GetOrCreateRecord(5);
  record.serverStatus = R::OK;
  store.UpdateMetadataState(record, false, false);
  EXPECT_EQ(TakePublications(), std::vector{Published(S::found, 5, false)});
  store.UpdateMetadataState(record, false, true);
  EXPECT_TRUE(publications.empty());

  record.serverStatus = R::EXPIRED;
  store.UpdateMetadataState(record, false, true);
  EXPECT_EQ(TakePublications(), std::vector{Published(S::missingOrExpired, 5, true)});
}

// The lost rule: a retryDownload record is lost once the game ended more than
// lostMinutes ago (rounded to whole seconds, halves away from zero).
TEST_F(MetadataStoreTest, LostRuleBoundaries) {
  struct Case {
    std::string name;
    double lostMinutes;
    int64_t gameEndMs;  // 0: unknown
    S after;
  };
  const int64_t kEnd = kNowMs - 60 * kMinuteMs;
  const Case cases[] = {
      {"ended 60 minutes ago", 30.0, kNowMs - 60 * kMinuteMs, S::lost},
      {"ended 10 minutes ago", 30.0, kNowMs - 10 * kMinuteMs, S::retryDownload},
      {"no game end", 30.0, 0, S::retryDownload},
      {"game end in the future", 30.0, kNowMs + 60 * kMinuteMs, S::retryDownload},
      {"deadline exactly now", 30.0, kNowMs - 30 * kMinuteMs, S::retryDownload},
      {"deadline 1 ms ago", 30.0, kNowMs - 30 * kMinuteMs - 1, S::lost},
      // 0.375 minutes are 22.5 s, which rounds to 23 s, not 22.
      {"22.5 s rounds up: 22.7 s ago", 0.375, kNowMs - 22'700, S::retryDownload},
      {"22.5 s rounds up: 23.001 s ago", 0.375, kNowMs - 23'001, S::lost},
      {"negative minutes: lost at once", -0.375, kNowMs + 22'000, S::lost},
      {"zero minutes, ended 1 ms ago", 0.0, kNowMs - 1, S::lost},
      {"huge minutes never lose", 1e300, kEnd, S::retryDownload},
      {"infinite minutes never lose", std::numeric_limits<double>::infinity(), kEnd,
       S::retryDownload},
      {"NaN minutes count as zero", std::nan(""), kEnd, S::lost},
      {"the largest game end is in the future", 30.0, -1, S::retryDownload},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    store.SetLostMinutes(c.lostMinutes);
    ReplayRecord& record = store.GetOrCreateRecord(2);
    record.metadata.state = S::retryDownload;
    record.gameEnd = static_cast<uint64_t>(c.gameEndMs);
    capture.clear();
    store.UpdateMetadataState(record, false, false);
    EXPECT_EQ(record.metadata.state, c.after);
    const std::vector<std::string> expected = {
        c.after == S::lost
            ? Detail("MetadataStore: update Replay '2', state->Lost")
            : Detail("MetadataStore: Replay '2' ended at time " + std::to_string(record.gameEnd))};
    EXPECT_EQ(TakeLines(), expected);
  }
}

TEST_F(MetadataStoreTest, VerdictsAreReversible) {
  // Lost, then the configuration moves the deadline into the future.
  ReplayRecord& lost = store.GetOrCreateRecord(10);
  lost.gameEnd = kNowMs - 60 * kMinuteMs;
  store.MarkRetryDownload(10);
  store.UpdateMetadataState(lost, false, false);
  EXPECT_EQ(lost.metadata.state, S::lost);

  // Incompatible, then the installed version changes to match.
  incompatibleVersions = {"10.5.1.2"};
  store.SetTrecPathForGame(11, "/r/11.trec", "10.5.1.2");
  EXPECT_EQ(store.FindRecord(11)->metadata.state, S::incompatible);

  // Unsupported by game type, then created again without a queue.
  store.SetTrecPathForGame(12, "/r/12.trec", "");
  ReplayRecord& unsupported = *store.FindRecord(12);
  unsupported.gameType = "TUTORIAL_GAME";
  unsupported.queueId = 420;
  store.UpdateMetadataState(unsupported, false, false);
  EXPECT_EQ(unsupported.metadata.state, S::unsupported);
  TakePublications();
  capture.clear();

  incompatibleVersions.clear();
  store.SetLostMinutes(120.0);
  EXPECT_EQ(TakeLines()[0],
            Detail("MetadataStore: Replays will be considered lost after 120.000000 minutes"));
  std::vector<Publication> got = TakePublications();
  std::sort(got.begin(), got.end(),
            [](const auto& a, const auto& b) { return a.metadata.gameId < b.metadata.gameId; });
  EXPECT_EQ(got, (std::vector{Published(S::retryDownload, 10), Published(S::watch, 11)}));

  unsupported.queueId = -1;
  store.UpdateAllMetadataStates();
  EXPECT_EQ(TakePublications(), std::vector{Published(S::watch, 12)});
  store.UpdateAllMetadataStates();
  EXPECT_TRUE(publications.empty());
}

TEST_F(MetadataStoreTest, SetTrecPathForGame) {
  store.SetTrecPathForGame(3, "/r/3.trec", "10.5.1.2");
  EXPECT_EQ(TakeLines(),
            (std::vector{Detail("MetadataStore: update Replay '3', state->Download"),
                         Detail("MetadataStore: update Replay '3', trecPath->/r/3.trec")}));
  EXPECT_EQ(TakePublications(), std::vector{Published(S::watch, 3)});
  const ReplayRecord& record = *store.FindRecord(3);
  EXPECT_EQ(record.trecPath, "/r/3.trec");
  EXPECT_EQ(record.gameVersion, "10.5.1.2");

  // Same state again: nothing published; an empty version keeps the known one.
  store.SetTrecPathForGame(3, "/r/3b.trec", "");
  EXPECT_TRUE(publications.empty());
  EXPECT_EQ(record.trecPath, "/r/3b.trec");
  EXPECT_EQ(record.gameVersion, "10.5.1.2");
  store.SetTrecPathForGame(3, "/r/3b.trec", "10.6.1.1");
  EXPECT_EQ(record.gameVersion, "10.6.1.1");
}

TEST_F(MetadataStoreTest, OperationsThatAlwaysPublish) {
  // ClearTrecPath does nothing for an unknown game, and creates no record.
  store.ClearTrecPath(4);
  EXPECT_EQ(store.FindRecord(4), nullptr);
  EXPECT_TRUE(TakeLines().empty());
  EXPECT_TRUE(publications.empty());

  store.SetTrecPathForGame(4, "/r/4.trec", "10.5.1.2");
  ReplayRecord& record = *store.FindRecord(4);
  record.serverStatus = R::OK;
  TakePublications();
  capture.clear();
  for (int i = 0; i < 2; ++i) {
    store.ClearTrecPath(4);
    EXPECT_EQ(
        TakeLines(),
        std::vector{General("MetadataStore: update Replay '4', state->Download, trecPath->''")});
  }
  EXPECT_EQ(TakePublications(),
            (std::vector{Published(S::download, 4), Published(S::download, 4)}));
  EXPECT_TRUE(record.trecPath.empty());
  EXPECT_EQ(record.gameVersion, "10.5.1.2");
  EXPECT_EQ(record.serverStatus, R::OK);

  // MarkRetryDownload leaves the lost rule to the next recomputation.
  record.gameEnd = kNowMs - 60 * kMinuteMs;
  for (int i = 0; i < 2; ++i) {
    store.MarkRetryDownload(4);
    EXPECT_EQ(TakeLines(),
              std::vector{General("MetadataStore: update Replay '4', state->RetryDownload")});
  }
  EXPECT_EQ(TakePublications(),
            (std::vector{Published(S::retryDownload, 4), Published(S::retryDownload, 4)}));
  EXPECT_EQ(record.metadata.state, S::retryDownload);
}

TEST_F(MetadataStoreTest, RequestMetadataFetchOnAnUnknownGame) {
  store.RequestMetadataFetch(8, false);
  EXPECT_EQ(TakeLines(),
            (std::vector{Detail("MetadataStore: update Replay '8', state->Download"),
                         General("MetadataStore: fetching Replay '8', state: 3"),
                         Detail("MetadataStore: update Replay '8', state->Checking"),
                         General("MetadataStore: game '8' queued for metadata fetch.")}));
  EXPECT_EQ(TakePublications(), std::vector{Published(S::checking, 8)});
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].name, "replays metadata fetch 0");
  EXPECT_TRUE(store.fetchJobRunning());

  // Already checking: published again, and the queued lookup is not doubled.
  store.RequestMetadataFetch(8, false);
  EXPECT_EQ(TakePublications(), std::vector{Published(S::checking, 8)});
  EXPECT_EQ(store.fetchQueue().size(), 1u);
  EXPECT_EQ(jobs.size(), 1u);
  EXPECT_TRUE(capture.contains(
      "MetadataStore: game '8' already queued for metadata fetch. It will not be requeued"));
}

TEST_F(MetadataStoreTest, LookupsDoNotCreateAndRecordsStayPut) {
  api_->setLevel(static_cast<int32_t>(LogLevel::Warn));  // 100,000 creation lines are not the point
  ReplayRecord& first = store.GetOrCreateRecord(0);
  for (uint64_t gameId = 1; gameId < 100'000; ++gameId) store.GetOrCreateRecord(gameId * 7919);
  EXPECT_EQ(&store.GetOrCreateRecord(0), &first);
  EXPECT_EQ(store.records().size(), 100'000u);
  EXPECT_LE(store.records().load_factor(), 1.0f);
  EXPECT_EQ(store.FindRecord(3), nullptr);
  const MetadataStore& constStore = store;
  EXPECT_EQ(constStore.FindRecord(7919 * 99'999)->metadata.gameId, 7919u * 99'999);
  EXPECT_EQ(store.records().size(), 100'000u);
}

std::vector<int64_t> LookupSeconds(
    const std::vector<std::pair<uint64_t, std::chrono::nanoseconds>>& lookups) {
  std::vector<int64_t> seconds;
  for (const auto& [gameId, when] : lookups) {
    seconds.push_back(std::chrono::duration_cast<std::chrono::seconds>(when).count());
  }
  return seconds;
}

TEST_F(MetadataStoreTest, GracefulLookupsWaitFourEightAndSixteenSeconds) {
  answers[20] = {Answer(R::NOT_FOUND), Answer(R::NOT_FOUND), Answer(R::NOT_FOUND)};
  store.RequestMetadataFetch(20, true);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].name, "enqueue 20");
  EXPECT_TRUE(capture.contains("MetadataStore: game '20' enqueued in wait queue"));

  AdvanceTo(3600);
  EXPECT_EQ(LookupSeconds(lookups), (std::vector<int64_t>{4, 12, 28}));
  EXPECT_EQ(store.FindRecord(20)->metadata.state, S::retryDownload);
  EXPECT_EQ(TakePublications(),
            (std::vector{Published(S::checking, 20), Published(S::retryDownload, 20, true)}));
  EXPECT_TRUE(store.waitQueue().empty() && store.fetchQueue().empty());
  EXPECT_FALSE(store.fetchJobRunning());
}

TEST_F(MetadataStoreTest, AnOkAnswerPublishesFoundFromTheServerLookup) {
  answers[21] = {Answer(R::OK, "10.5.1.2")};
  answers[22] = {Answer(R::OK)};
  store.RequestMetadataFetch(21, false);
  // A request made while the job waits for the server is taken by the same run.
  duringLookup = [this] { store.RequestMetadataFetch(22, false); };
  AdvanceTo(0);
  EXPECT_EQ(jobs.size(), 0u);
  EXPECT_EQ(TakePublications(),
            (std::vector{Published(S::checking, 21), Published(S::checking, 22),
                         Published(S::found, 21, true), Published(S::found, 22, true)}));
  const ReplayRecord& record = *store.FindRecord(21);
  EXPECT_EQ(record.serverStatus, R::OK);
  EXPECT_EQ(record.gameVersion, "10.5.1.2");
  const std::vector<std::string> lines = capture.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       General("MetadataStore: RemoteMetadataFetcher job started")),
            1);
  EXPECT_EQ(lines.back(), General("MetadataStore: RemoteMetadataFetcher job ended"));
  EXPECT_FALSE(store.fetchJobRunning());

  // A later request starts a new run.
  answers[21] = {Answer(R::OK)};
  store.RequestMetadataFetch(21, false);
  EXPECT_EQ(jobs.size(), 1u);
}

TEST_F(MetadataStoreTest, AFailedLookupEndsTheRequestInError) {
  answers[23] = {MakeFailureText(503, "unavailable")};
  store.RequestMetadataFetch(23, true);
  AdvanceTo(3600);
  EXPECT_EQ(lookups.size(), 1u);
  const ReplayRecord& record = *store.FindRecord(23);
  EXPECT_EQ(record.metadata.state, S::error);
  EXPECT_EQ(record.serverStatus, R::INTERNAL_SERVER_ERROR);
  EXPECT_EQ(TakePublications(),
            (std::vector{Published(S::checking, 23), Published(S::error, 23, false)}));
  EXPECT_TRUE(capture.contains(
      "MetadataStore: replays metadata request for game '23' failed with error code '503'"));

  // A record that left checking meanwhile keeps its state and status.
  store.RequestMetadataFetch(24, false);
  store.SetTrecPathForGame(24, "/r/24.trec", "");
  TakePublications();
  AdvanceTo(3600);
  EXPECT_EQ(store.FindRecord(24)->metadata.state, S::watch);
  EXPECT_FALSE(store.FindRecord(24)->serverStatus.has_value());
  EXPECT_TRUE(publications.empty());
}

TEST_F(MetadataStoreTest, AnswersForRecordsThatMovedOnOnlyUpdateStatusAndVersion) {
  answers[25] = {Answer(R::EXPIRED, "10.6.1.1")};
  store.RequestMetadataFetch(25, false);
  store.SetTrecPathForGame(25, "/r/25.trec", "10.5.1.2");
  TakePublications();
  AdvanceTo(0);
  const ReplayRecord& record = *store.FindRecord(25);
  EXPECT_EQ(record.metadata.state, S::watch);
  EXPECT_EQ(record.serverStatus, R::EXPIRED);
  EXPECT_EQ(record.gameVersion, "10.6.1.1");
  EXPECT_TRUE(publications.empty());
  EXPECT_TRUE(capture.contains(
      "MetadataStore: metadata fetch result for game '25' ignored because cached state is not "
      "'checking', 'download' or 'retryDownload'"));
}

TEST_F(MetadataStoreTest, RepeatedRequestsMergeIntoOneLookup) {
  // Fetch queue: a graceful request raises the remaining calls of a plain one.
  store.RequestMetadataFetch(26, false);
  capture.clear();
  store.EnqueueFetch({26, 0, 3});
  EXPECT_EQ(TakeLines(),
            (std::vector{General("MetadataStore: game '26' already queued for metadata fetch. "
                                 "Increasing the number retries remaining."),
                         General("MetadataStore: game '26' already queued for metadata fetch. "
                                 "It will not be requeued")}));
  store.EnqueueFetch({26, 0, 1});
  ASSERT_EQ(store.fetchQueue().size(), 1u);
  EXPECT_EQ(store.fetchQueue()[0].maxCalls, 3);

  // Wait queue: fewer calls done resets the waiting item, without a second timer.
  store.EnqueueWait({27, 2, 3});
  const size_t timers = jobs.size();
  capture.clear();
  store.EnqueueWait({27, 0, 3});
  store.EnqueueWait({27, 1, 3});
  EXPECT_EQ(TakeLines(),
            (std::vector{General("MetadataStore: increasing number of remaining calls for "
                                 "existing game '27' in the wait queue"),
                         General("MetadataStore: game '27' already in wait queue with the same "
                                 "ammount of remaining calls or more. Not updating")}));
  EXPECT_EQ(jobs.size(), timers);
  EXPECT_EQ(store.waitQueue().at(27).callsDone, 0);
  EXPECT_EQ(store.waitQueue().at(27).maxCalls, 3);
}

TEST_F(MetadataStoreTest, ALookupThatThrowsDoesNotStopLaterFetchJobs) {
  answers[30] = {Answer(R::OK)};
  store.RequestMetadataFetch(30, false);
  duringLookup = [] { throw std::runtime_error("future error"); };
  EXPECT_THROW(AdvanceTo(0), std::runtime_error);  // the scheduler catches and logs it
  EXPECT_FALSE(store.fetchJobRunning());

  store.RequestMetadataFetch(30, false);
  ASSERT_EQ(jobs.size(), 1u);
  AdvanceTo(0);
  EXPECT_EQ(store.FindRecord(30)->metadata.state, S::found);
}

TEST_F(MetadataStoreTest, AWaitTimerWithoutItsGameWarnsAndDoesNothing) {
  store.EnqueueWait({28, 0, 1});
  std::function<void()> timer = jobs.at(0).function;
  timer();
  EXPECT_EQ(store.fetchQueue().size(), 1u);
  capture.clear();
  timer();
  EXPECT_EQ(TakeLines(), std::vector{Warning("MetadataStore: expected game '28' to be in wait "
                                             "queue, but it was missing.")});
  EXPECT_EQ(store.fetchQueue().size(), 1u);
}

TEST_F(MetadataStoreTest, BadRequestsRetryWithBoundedPausesUntilAnotherAnswer) {
  answers[29] = std::vector<FetchResult>(10, Answer(R::BAD_REQUEST));
  answers[29].push_back(Answer(R::NOT_FOUND));
  store.RequestMetadataFetch(29, false);
  AdvanceTo(100'000);
  // Pauses 8, 16, ..., 1024 s, then no longer; the not-found answer past the
  // allowance ends the request.
  EXPECT_EQ(LookupSeconds(lookups),
            (std::vector<int64_t>{0, 8, 24, 56, 120, 248, 504, 1016, 2040, 3064, 4088}));
  EXPECT_EQ(store.FindRecord(29)->metadata.state, S::retryDownload);
  EXPECT_TRUE(store.waitQueue().empty());
}

}  // namespace
}  // namespace Zorv::Client::Replays
