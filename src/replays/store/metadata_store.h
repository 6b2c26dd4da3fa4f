// MetadataStore: one record per game id, and the decision which state the
// user interface sees for that game's replay.
//
//   MetadataStore store(std::move(callbacks), std::make_unique<MySupportChecker>());
//   store.SetTrecPathForGame(42, "/replays/NA1-42.trec", "10.5.1.2");  // watch, published
//   store.RequestMetadataFetch(43, false);  // checking, published, queued for a lookup
//
// Every part of the replay store reports into it (local files, server answers,
// download progress, created metadata); the store recomputes the state and
// hands each visible change (state, game id or progress) to `onChanged`. The
// operations documented as "always" publish even when nothing changed.
//
// Records are never removed, and a record's address stays valid while other
// records are added, so a caller may keep a reference across calls that create
// records. Lookups never create records; only GetOrCreateRecord and the
// operations built on it do.
//
// The store takes no locks: every operation, and every job it schedules, must
// run one at a time on the module's callback context. The callbacks and the
// checker must all be set; they are called without checks. REQUIRES: the store
// outlives the jobs it schedules (they hold its address).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "framework/hostapi/failure.h"
#include "framework/hostapi/maybe_type.h"
#include "platform/monotonic_clock.h"
#include "replays/api/lcds_types.h"
#include "replays/api/replays_types.h"

namespace Zorv::Client::Replays {

// Everything known about one game's replay; `metadata` is the published part.
struct ReplayRecord {
  Api::ReplayMetadata metadata;
  std::optional<LCDS::ReplayResponseStatus> serverStatus;  // of the last server lookup
  std::string trecPath;     // the local replay file; empty when none is known
  std::string gameVersion;  // the version that recorded the replay; empty when unknown
  std::string gameType;     // empty when unknown
  int32_t queueId = -1;     // -1 when unknown
  uint64_t gameEnd = 0;     // milliseconds since 1970-01-01 UTC; 0 when unknown
};

// One pending server lookup of a game's metadata.
struct FetchItem {
  uint64_t gameId = 0;
  int32_t callsDone = 0;  // lookups already made for this request
  int32_t maxCalls = 1;   // lookups allowed for this request
};

// Tells whether replays of a game type and queue can be watched at all.
class SupportChecker {
 public:
  virtual ~SupportChecker() = default;
  virtual bool IsSupported(const std::string& gameType, int32_t queueId) const = 0;
};

using FetchResult = MaybeType<Failure, LCDS::MultipleReplayMetadataResponseItemV2>;

// The plug-in's operations that the store calls, bound at construction.
struct MetadataStoreCallbacks {
  // Asks the server for one game's metadata; waits (by yielding) for the answer.
  std::function<FetchResult(uint64_t gameId)> fetchRemoteMetadata;
  // Publishes a record; fromServerLookup is true only for the fetch job's changes.
  std::function<void(const Api::ReplayMetadata& metadata, bool fromServerLookup)> onChanged;
  // Runs the function at `when` on the module's callback context; returns the timer id.
  std::function<uint64_t(std::string_view name, std::function<void()> function, MonotonicTime when)>
      scheduleCallback;
  // Whether a replay recorded with this game version can be played.
  std::function<bool(const std::string& gameVersion)> isCompatible;
};

// The clocks the store reads; tests replace them.
struct MetadataStoreClocks {
  // The system clock in 100-ns ticks since 1970-01-01 UTC (the lost rule).
  std::function<int64_t()> systemTime100ns;
  // The monotonic clock of scheduled jobs (the lookup queues).
  std::function<MonotonicTime()> monotonicNow;

  static MetadataStoreClocks System();
};

class MetadataStore {
 public:
  using RecordMap = std::unordered_map<uint64_t, ReplayRecord>;

  MetadataStore(MetadataStoreCallbacks callbacks, std::unique_ptr<SupportChecker> supportChecker,
                MetadataStoreClocks clocks = MetadataStoreClocks::System());
  MetadataStore(const MetadataStore&) = delete;
  MetadataStore& operator=(const MetadataStore&) = delete;

  // The game's record, created in state download (and logged, not published)
  // when there was none.
  ReplayRecord& GetOrCreateRecord(uint64_t gameId);
  // The game's record, or null; never creates one.
  ReplayRecord* FindRecord(uint64_t gameId);
  const ReplayRecord* FindRecord(uint64_t gameId) const;
  // Every record, for reading. Do not hold the iterators across calls that may
  // create records.
  const RecordMap& records() const { return records_; }

  // Recomputes the record's state from everything known about it and publishes
  // it when the state, game id or progress changed. Everyone but the fetch job
  // passes (false, false).
  void UpdateMetadataState(ReplayRecord& record, bool moreCallsLeft, bool fromServerLookup);
  // UpdateMetadataState(record, false, false) on every record present when
  // called; a publication may create records meanwhile without harm.
  void UpdateAllMetadataStates();

  // Minutes after a game's end after which a replay that still cannot be
  // downloaded is lost. Setting it logs the new value and recomputes every record.
  double lostMinutes() const { return lostMinutes_; }
  void SetLostMinutes(double minutes);

  // A local replay file for the game (an empty version keeps the known one).
  void SetTrecPathForGame(uint64_t gameId, const std::string& path, const std::string& gameVersion);
  // The game's replay file is gone: back to download, published always. Does
  // nothing for a game without a record.
  void ClearTrecPath(uint64_t gameId);
  // A download could not be done: retryDownload, published always.
  void MarkRetryDownload(uint64_t gameId);
  // A download action: checking, published always, and a server lookup queued
  // (at once, or graceful: three lookups, the first 4 s later).
  void RequestMetadataFetch(uint64_t gameId, bool graceful);
  // Hands the record to onChanged with the flag false, for the parts that
  // write a record's state directly (downloads, a change of replay folder).
  void Publish(const ReplayRecord& record);

  // The lookup queues (remote_metadata_fetcher.cpp).
  // Queues a lookup, merging with one queued for the same game, and makes sure
  // the fetch job runs.
  void EnqueueFetch(const FetchItem& item);
  // Parks a lookup for a timed re-lookup, merging with one already waiting.
  void EnqueueWait(const FetchItem& item);
  bool fetchJobRunning() const { return fetchJobsRunning_ > 0; }
  const std::deque<FetchItem>& fetchQueue() const { return fetchQueue_; }
  const std::unordered_map<uint64_t, FetchItem>& waitQueue() const { return waitQueue_; }

 private:
  void Publish(const ReplayRecord& record, bool fromServerLookup);
  bool IsPastLostDeadline(const ReplayRecord& record) const;
  void RunFetchJob();
  void RunWaitTimer(uint64_t gameId);
  void ApplyFetchResult(FetchItem item, const FetchResult& result);

  int32_t fetchJobsRunning_ = 0;
  double lostMinutes_ = 30.0;
  MetadataStoreCallbacks callbacks_;
  std::unique_ptr<SupportChecker> supportChecker_;
  MetadataStoreClocks clocks_;
  std::deque<FetchItem> fetchQueue_;
  RecordMap records_;
  std::unordered_map<uint64_t, FetchItem> waitQueue_;
};

}  // namespace Zorv::Client::Replays
