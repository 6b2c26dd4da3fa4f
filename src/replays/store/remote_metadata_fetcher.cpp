// The MetadataStore's server lookups: a first-in first-out fetch queue drained
// by one job, and a wait queue that delays repeated lookups with doubling pauses.
#include <algorithm>
#include <chrono>
#include <string>

#include "logging/log.h"
#include "replays/store/metadata_store.h"

namespace Zorv::Client::Replays {

using Api::MetadataState;

namespace {

// Pauses double with each lookup made (4 s, 8 s, 16 s, ...) up to 4 s << 8,
// about 17 minutes: only an endless run of bad-request answers gets there, and
// it keeps being retried at that pace instead of leaving the clock's range.
constexpr int32_t kMaxPauseDoublings = 8;

std::chrono::nanoseconds WaitPause(int32_t callsDone) {
  const int32_t doublings = std::clamp(callsDone, 0, kMaxPauseDoublings);
  return std::chrono::seconds(int64_t{4} << doublings);
}

int32_t RemainingCalls(const FetchItem& item) {
  return item.maxCalls - item.callsDone;
}

}  // namespace

void MetadataStore::EnqueueFetch(const FetchItem& item) {
  const auto gameId = static_cast<unsigned long long>(item.gameId);
  auto queued = std::find_if(fetchQueue_.begin(), fetchQueue_.end(),
                             [&](const FetchItem& other) { return other.gameId == item.gameId; });
  if (queued != fetchQueue_.end()) {
    if (RemainingCalls(*queued) < RemainingCalls(item)) {
      queued->callsDone = item.callsDone;
      queued->maxCalls = item.maxCalls;
      Log(LogLevel::Okay, kLogGEN,
          "MetadataStore: game '%llu' already queued for metadata fetch. Increasing the number "
          "retries remaining.",
          gameId);
    }
    Log(LogLevel::Okay, kLogGEN,
        "MetadataStore: game '%llu' already queued for metadata fetch. It will not be requeued",
        gameId);
  } else {
    fetchQueue_.push_back(item);
    Log(LogLevel::Okay, kLogGEN, "MetadataStore: game '%llu' queued for metadata fetch.", gameId);
  }

  if (fetchJobsRunning_ < 1) {
    fetchJobsRunning_ = 1;
    const MonotonicTime now = clocks_.monotonicNow();
    callbacks_.scheduleCallback(
        "replays metadata fetch " + std::to_string(now.time_since_epoch().count()),
        [this] { RunFetchJob(); }, now);
  }
}

void MetadataStore::EnqueueWait(const FetchItem& item) {
  const auto gameId = static_cast<unsigned long long>(item.gameId);
  auto [waiting, inserted] = waitQueue_.try_emplace(item.gameId, item);
  if (inserted) {
    Log(LogLevel::Okay, kLogGEN, "MetadataStore: game '%llu' enqueued in wait queue", gameId);
    const uint64_t waitedGameId = item.gameId;
    callbacks_.scheduleCallback(
        "enqueue " + std::to_string(waitedGameId),
        [this, waitedGameId] { RunWaitTimer(waitedGameId); },
        clocks_.monotonicNow() + WaitPause(item.callsDone));
  } else if (waiting->second.callsDone > item.callsDone) {
    waiting->second.callsDone = item.callsDone;
    Log(LogLevel::Okay, kLogGEN,
        "MetadataStore: increasing number of remaining calls for existing game '%llu' in the wait "
        "queue",
        gameId);
  } else {
    Log(LogLevel::Okay, kLogGEN,
        "MetadataStore: game '%llu' already in wait queue with the same ammount of remaining "
        "calls or more. Not updating",
        gameId);
  }
}

void MetadataStore::RunWaitTimer(uint64_t gameId) {
  auto waiting = waitQueue_.find(gameId);
  if (waiting == waitQueue_.end()) {
    Log(LogLevel::Warn, kLogDBG,
        "MetadataStore: expected game '%llu' to be in wait queue, but it was missing.",
        static_cast<unsigned long long>(gameId));
    return;
  }
  const FetchItem item = waiting->second;
  waitQueue_.erase(waiting);
  EnqueueFetch(item);
}

void MetadataStore::RunFetchJob() {
  Log(LogLevel::Okay, kLogGEN, "MetadataStore: RemoteMetadataFetcher job started");
  // Cleared however the run ends: a lookup that throws (the scheduler catches
  // and logs it) must not leave the flag set, or no fetch job would ever run again.
  struct RunningFlag {
    int32_t& running;
    ~RunningFlag() { running = 0; }
  } flag{fetchJobsRunning_};
  // Handlers that run while a lookup waits may append to the queue; this run takes them too.
  while (!fetchQueue_.empty()) {
    const FetchItem item = fetchQueue_.front();
    fetchQueue_.pop_front();
    ApplyFetchResult(item, callbacks_.fetchRemoteMetadata(item.gameId));
  }
  Log(LogLevel::Okay, kLogGEN, "MetadataStore: RemoteMetadataFetcher job ended");
}

void MetadataStore::ApplyFetchResult(FetchItem item, const FetchResult& result) {
  const auto gameId = static_cast<unsigned long long>(item.gameId);
  // Looked up after the answer: other handlers may have run while the lookup waited.
  ReplayRecord& record = GetOrCreateRecord(item.gameId);
  if (!result) {
    Log(LogLevel::Warn, kLogDBG,
        "MetadataStore: replays metadata request for game '%llu' failed with error code '%d'",
        gameId, static_cast<int>(result.failure().code));
    if (record.metadata.state == MetadataState::checking) {
      record.serverStatus = LCDS::ReplayResponseStatus::INTERNAL_SERVER_ERROR;
      record.metadata.state = MetadataState::error;
      Publish(record);
    }
    return;
  }

  ++item.callsDone;
  // At or past the allowance: bad-request answers may carry an item beyond it, and a
  // not-found answer then must still end the request instead of re-queueing it for ever.
  const bool lastCall = item.callsDone >= item.maxCalls;
  const LCDS::MultipleReplayMetadataResponseItemV2& answer = result.value();
  record.serverStatus = answer.status;
  if (!answer.metadata.gameVersion.empty()) record.gameVersion = answer.metadata.gameVersion;

  const MetadataState state = record.metadata.state;
  if (state == MetadataState::checking || state == MetadataState::download ||
      state == MetadataState::retryDownload) {
    UpdateMetadataState(record, !lastCall, true);
  } else {
    Log(LogLevel::Okay, kLogGEN,
        "MetadataStore: metadata fetch result for game '%llu' ignored because cached state is not "
        "'checking', 'download' or 'retryDownload'",
        gameId);
  }
  if (record.metadata.state == MetadataState::checking) EnqueueWait(item);
}

}  // namespace Zorv::Client::Replays
