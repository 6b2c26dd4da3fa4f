#include "replays/store/metadata_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "replays/store/metadata_store_fixture.h"

namespace Zorv::Client::Replays {
namespace {

using namespace StoreTesting;

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
  const std::string kUnsupported = "MetadataStore: update Replay '1', state->Unsupported";
  const std::string kIncompatible = "MetadataStore: update Replay '1', state->Incompatible";
  const std::string kFile = "/r/1.trec";
  // clang-format off
  const Case cases[] = {
      // name; before, status, calls left; file, version, type, queue; after; log lines
      {"ok", S::checking, R::OK, false, "", "", "", -1, S::found, {kUpdate + "ok"}},
      {"not found, calls left", S::checking, R::NOT_FOUND, true, "", "", "", -1,
       S::checking, {kUpdate + "notFound"}},
      {"not found, last call", S::checking, R::NOT_FOUND, false, "", "", "", -1,
       S::retryDownload, {kUpdate + "notFound", kEnded}},
      {"expired", S::download, R::EXPIRED, false, "", "", "", -1,
       S::missingOrExpired, {kUpdate + "expired"}},
      {"bad request keeps the state", S::checking, R::BAD_REQUEST, false, "", "", "", -1,
       S::checking, {kUpdate + "badRequest"}},
      {"bad request keeps retryDownload", S::retryDownload, R::BAD_REQUEST, false, "", "", "", -1,
       S::retryDownload, {kUpdate + "badRequest", kEnded}},
      {"internal server error", S::retryDownload, R::INTERNAL_SERVER_ERROR, true, "", "", "", -1,
       S::error, {kUpdate + "internalServerError"}},
      {"no status keeps found", S::found, std::nullopt, false, "", "", "", -1,
       S::found, {}},
      {"no status keeps downloading", S::downloading, std::nullopt, false, "", "", "", -1,
       S::downloading, {}},
      {"unsupported is undone", S::unsupported, std::nullopt, false, "", "", "", -1,
       S::download, {}},
      {"incompatible is undone", S::incompatible, std::nullopt, false, "", "", "", -1,
       S::download, {}},
      {"lost is undone without a game end", S::lost, std::nullopt, false, "", "", "", -1,
       S::retryDownload, {kEnded}},
      {"a file means watch, even after an error", S::error, R::INTERNAL_SERVER_ERROR, false,
       kFile, "", "", -1, S::watch, {kUpdate + "internalServerError"}},
      {"a file means watch, even when lost", S::lost, std::nullopt, false, kFile, "", "", -1,
       S::watch, {kEnded}},
      {"unsupported game type beats the file", S::watch, std::nullopt, false,
       kFile, "", "TUTORIAL_GAME", 420, S::unsupported, {kUnsupported}},
      {"unsupported queue", S::download, std::nullopt, false, "", "", "CLASSIC", 850,
       S::unsupported, {kUnsupported}},
      {"no queue id, no support verdict", S::watch, std::nullopt, false,
       kFile, "", "TUTORIAL_GAME", -1, S::watch, {}},
      {"no game type, no support verdict", S::download, std::nullopt, false, "", "", "", 850,
       S::download, {}},
      {"incompatible version beats the file", S::watch, std::nullopt, false, kFile, "9.9", "", -1,
       S::incompatible, {kIncompatible}},
      {"incompatible version beats found", S::checking, R::OK, false, "", "9.9", "CLASSIC", 420,
       S::incompatible, {kUpdate + "ok", kIncompatible}},
      {"unsupported skips the version test", S::download, std::nullopt, false,
       "", "9.9", "TUTORIAL_GAME", 1, S::unsupported, {kUnsupported}},
      {"compatible version", S::watch, std::nullopt, false, kFile, "10.5.1.2", "CLASSIC", 420,
       S::watch, {}},
  };
  // clang-format on
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
  // Each case as a retryDownload record recomputed, and as a lookup answered
  // not-found on its last call.
  for (const Case& c : cases) {
    for (const bool answered : {false, true}) {
      SCOPED_TRACE(c.name + (answered ? ", answered not found" : ""));
      store.SetLostMinutes(c.lostMinutes);
      ReplayRecord& record = store.GetOrCreateRecord(2);
      record.metadata.state = answered ? S::checking : S::retryDownload;
      record.serverStatus = answered ? std::optional(R::NOT_FOUND) : std::nullopt;
      record.gameEnd = static_cast<uint64_t>(c.gameEndMs);
      capture.clear();
      store.UpdateMetadataState(record, false, false);
      EXPECT_EQ(record.metadata.state, c.after);
      std::vector<std::string> expected;
      if (answered) {
        expected.push_back(
            Detail("MetadataStore: Update metadata state of game '2', state->notFound"));
      }
      expected.push_back(c.after == S::lost
                             ? Detail("MetadataStore: update Replay '2', state->Lost")
                             : Detail("MetadataStore: Replay '2' ended at time " +
                                      std::to_string(record.gameEnd)));
      EXPECT_EQ(TakeLines(), expected);
    }
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

  // Unsupported by game type, then its queue becomes unknown.
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

}  // namespace
}  // namespace Zorv::Client::Replays
