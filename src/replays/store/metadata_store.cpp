#include "replays/store/metadata_store.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "logging/log.h"
#include "platform/clock.h"
#include "replays/api/replays_text.h"

namespace Zorv::Client::Replays {

using Api::MetadataState;
using LCDS::ReplayResponseStatus;

namespace {

constexpr uint64_t kLogDetail = kLogDBG | kLogXTR;

// Seconds after a game's end until its replay counts as lost: the minutes
// rounded half away from zero, limited to 32 bits (a NaN counts as 0) so that
// no configured value makes the conversion undefined.
int32_t LostLimitSeconds(double minutes) {
  const double seconds = std::round(minutes * 60.0);
  if (std::isnan(seconds)) return 0;
  if (seconds >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (seconds <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(seconds);
}

MetadataState StateForServerStatus(ReplayResponseStatus status, MetadataState current,
                                   bool moreCallsLeft) {
  switch (status) {
    case ReplayResponseStatus::OK:
      return MetadataState::found;
    case ReplayResponseStatus::NOT_FOUND:
      return moreCallsLeft ? MetadataState::checking : MetadataState::retryDownload;
    case ReplayResponseStatus::EXPIRED:
      return MetadataState::missingOrExpired;
    case ReplayResponseStatus::INTERNAL_SERVER_ERROR:
      return MetadataState::error;
    case ReplayResponseStatus::BAD_REQUEST:
      break;
  }
  return current;
}

}  // namespace

MetadataStoreClocks MetadataStoreClocks::System() {
  return {&Platform::SystemTime100ns, &MonotonicClock::now};
}

MetadataStore::MetadataStore(MetadataStoreCallbacks callbacks,
                             std::unique_ptr<SupportChecker> supportChecker,
                             MetadataStoreClocks clocks)
    : callbacks_(std::move(callbacks)),
      supportChecker_(std::move(supportChecker)),
      clocks_(std::move(clocks)),
      records_(8),
      waitQueue_(8) {
  records_.max_load_factor(1.0f);
  waitQueue_.max_load_factor(1.0f);
}

ReplayRecord& MetadataStore::GetOrCreateRecord(uint64_t gameId) {
  auto [it, created] = records_.try_emplace(gameId);
  if (created) {
    it->second.metadata = {MetadataState::download, gameId, 0};
    Log(LogLevel::Okay, kLogDetail, "MetadataStore: update Replay '%llu', state->Download",
        static_cast<unsigned long long>(gameId));
  }
  return it->second;
}

ReplayRecord* MetadataStore::FindRecord(uint64_t gameId) {
  auto it = records_.find(gameId);
  return it == records_.end() ? nullptr : &it->second;
}

const ReplayRecord* MetadataStore::FindRecord(uint64_t gameId) const {
  auto it = records_.find(gameId);
  return it == records_.end() ? nullptr : &it->second;
}

void MetadataStore::Publish(const ReplayRecord& record, bool fromServerLookup) {
  callbacks_.onChanged(record.metadata, fromServerLookup);
}

void MetadataStore::Publish(const ReplayRecord& record) {
  Publish(record, false);
}

bool MetadataStore::IsPastLostDeadline(const ReplayRecord& record) const {
  // In 128 bits, so that no game end, however far off, wraps around into the past.
  const __int128 deadline100ns = static_cast<__int128>(record.gameEnd) * 10'000 +
                                 static_cast<__int128>(LostLimitSeconds(lostMinutes_)) * 10'000'000;
  return deadline100ns < static_cast<__int128>(clocks_.systemTime100ns());
}

void MetadataStore::UpdateMetadataState(ReplayRecord& record, bool moreCallsLeft,
                                        bool fromServerLookup) {
  const Api::ReplayMetadata before = record.metadata;
  const auto gameId = static_cast<unsigned long long>(record.metadata.gameId);
  MetadataState& state = record.metadata.state;

  // Verdicts recomputed below start over, so a change of configuration or of
  // the installed version can lift them.
  if (state == MetadataState::unsupported || state == MetadataState::incompatible) {
    state = MetadataState::download;
  } else if (state == MetadataState::lost) {
    state = MetadataState::retryDownload;
  }

  if (record.serverStatus) {
    state = StateForServerStatus(*record.serverStatus, state, moreCallsLeft);
    Log(LogLevel::Okay, kLogDetail,
        "MetadataStore: Update metadata state of game '%llu', state->%s", gameId,
        ToText(*record.serverStatus).c_str());
  }

  if (state == MetadataState::retryDownload && record.gameEnd > 0 && IsPastLostDeadline(record)) {
    state = MetadataState::lost;
    Log(LogLevel::Okay, kLogDetail, "MetadataStore: update Replay '%llu', state->Lost", gameId);
  }
  if (state == MetadataState::retryDownload) {
    Log(LogLevel::Okay, kLogDetail, "MetadataStore: Replay '%llu' ended at time %llu", gameId,
        static_cast<unsigned long long>(record.gameEnd));
  }

  if (!record.trecPath.empty()) state = MetadataState::watch;

  if (!record.gameType.empty() && record.queueId != -1 &&
      !supportChecker_->IsSupported(record.gameType, record.queueId)) {
    state = MetadataState::unsupported;
    Log(LogLevel::Okay, kLogDetail, "MetadataStore: update Replay '%llu', state->Unsupported",
        gameId);
  } else if (!record.gameVersion.empty() && !callbacks_.isCompatible(record.gameVersion)) {
    state = MetadataState::incompatible;
    Log(LogLevel::Okay, kLogDetail, "MetadataStore: update Replay '%llu', state->Incompatible",
        gameId);
  }

  if (record.metadata.state != before.state || record.metadata.gameId != before.gameId ||
      record.metadata.downloadProgress != before.downloadProgress) {
    Publish(record, fromServerLookup);
  }
}

void MetadataStore::UpdateAllMetadataStates() {
  // By id, not by iterator: a publication may create records and rehash the map.
  std::vector<uint64_t> gameIds;
  gameIds.reserve(records_.size());
  for (const auto& [gameId, record] : records_) gameIds.push_back(gameId);
  for (uint64_t gameId : gameIds) UpdateMetadataState(records_.at(gameId), false, false);
}

void MetadataStore::SetLostMinutes(double minutes) {
  lostMinutes_ = minutes;
  Log(LogLevel::Okay, kLogDetail, "MetadataStore: Replays will be considered lost after %f minutes",
      minutes);
  UpdateAllMetadataStates();
}

void MetadataStore::SetTrecPathForGame(uint64_t gameId, const std::string& path,
                                       const std::string& gameVersion) {
  ReplayRecord& record = GetOrCreateRecord(gameId);
  record.trecPath = path;
  if (!gameVersion.empty()) record.gameVersion = gameVersion;
  Log(LogLevel::Okay, kLogDetail, "MetadataStore: update Replay '%llu', trecPath->%s",
      static_cast<unsigned long long>(gameId), path.c_str());
  UpdateMetadataState(record, false, false);
}

void MetadataStore::ClearTrecPath(uint64_t gameId) {
  ReplayRecord* record = FindRecord(gameId);
  if (record == nullptr) return;
  record->trecPath.clear();
  record->metadata.state = MetadataState::download;
  Log(LogLevel::Okay, kLogGEN, "MetadataStore: update Replay '%llu', state->Download, trecPath->''",
      static_cast<unsigned long long>(gameId));
  Publish(*record);
}

void MetadataStore::MarkRetryDownload(uint64_t gameId) {
  ReplayRecord& record = GetOrCreateRecord(gameId);
  record.metadata.state = MetadataState::retryDownload;
  Log(LogLevel::Okay, kLogGEN, "MetadataStore: update Replay '%llu', state->RetryDownload",
      static_cast<unsigned long long>(gameId));
  Publish(record);
}

void MetadataStore::RequestMetadataFetch(uint64_t gameId, bool graceful) {
  ReplayRecord& record = GetOrCreateRecord(gameId);
  Log(LogLevel::Okay, kLogGEN, "MetadataStore: fetching Replay '%llu', state: %d",
      static_cast<unsigned long long>(gameId), static_cast<int>(record.metadata.state));
  record.metadata.state = MetadataState::checking;
  Log(LogLevel::Okay, kLogDetail, "MetadataStore: update Replay '%llu', state->Checking",
      static_cast<unsigned long long>(gameId));
  Publish(record);

  const FetchItem item{gameId, 0, graceful ? 3 : 1};
  if (graceful) {
    EnqueueWait(item);
  } else {
    EnqueueFetch(item);
  }
}

}  // namespace Zorv::Client::Replays
