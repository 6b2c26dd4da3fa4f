#include "replays/store/metadata_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "replays/store/metadata_store_fixture.h"

namespace Zorv::Client::Replays {
namespace {

using namespace StoreTesting;

using RemoteMetadataFetcherTest = MetadataStoreTest;

std::vector<int64_t> LookupSeconds(
    const std::vector<std::pair<uint64_t, std::chrono::nanoseconds>>& lookups) {
  std::vector<int64_t> seconds;
  for (const auto& [gameId, when] : lookups) {
    seconds.push_back(std::chrono::duration_cast<std::chrono::seconds>(when).count());
  }
  return seconds;
}

TEST_F(RemoteMetadataFetcherTest, GracefulLookupsWaitFourEightAndSixteenSeconds) {
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

TEST_F(RemoteMetadataFetcherTest, AnOkAnswerPublishesFoundFromTheServerLookup) {
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

TEST_F(RemoteMetadataFetcherTest, AFailedLookupEndsTheRequestInError) {
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

TEST_F(RemoteMetadataFetcherTest, AnswersForRecordsThatMovedOnOnlyUpdateStatusAndVersion) {
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

TEST_F(RemoteMetadataFetcherTest, RepeatedRequestsMergeIntoOneLookup) {
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

TEST_F(RemoteMetadataFetcherTest, ALookupThatThrowsDoesNotStopLaterFetchJobs) {
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

TEST_F(RemoteMetadataFetcherTest, AWaitTimerWithoutItsGameWarnsAndDoesNothing) {
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

TEST_F(RemoteMetadataFetcherTest, BadRequestsRetryWithBoundedPausesUntilAnotherAnswer) {
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
