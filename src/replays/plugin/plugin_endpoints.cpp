// The metadata endpoints and the publication of metadata changes.
#include <string>

#include "logging/log.h"
#include "replays/api/replays_text.h"
#include "replays/plugin/replays_plugin.h"

namespace Zorv::Client::Replays {

namespace {

// The game end that a create request without one stores: 30 ms after the
// epoch, so such a replay counts as lost as soon as it cannot be downloaded.
constexpr uint64_t kUnknownGameEnd = 30;

constexpr char kUnknownVersion[] = "unknown_version";

unsigned long long LogId(uint64_t gameId) {
  return static_cast<unsigned long long>(gameId);
}

}  // namespace

Api::ReplaysConfiguration ReplaysPlugin::GetConfiguration() {
  Log(LogLevel::Okay, kLogDBG | kLogXTR, "Getting replays configuration");
  return configuration_;
}

void ReplaysPlugin::CreateMetadataV1(uint64_t gameId, const std::string& gameVersion,
                                     const std::string& gameType, int32_t queueId) {
  Api::ReplayCreateMetadata request;
  request.gameVersion = gameVersion;
  request.gameType = gameType;
  request.queueId = queueId;
  request.gameEnd = kUnknownGameEnd;
  CreateMetadata(gameId, request);
}

void ReplaysPlugin::CreateMetadata(uint64_t gameId, const Api::ReplayCreateMetadata& request) {
  Log(LogLevel::Okay, kLogGEN, "Plugin handling Replay '%llu' CREATE METADATA", LogId(gameId));
  const uint64_t gameEnd = request.gameEnd == 0 ? kUnknownGameEnd : request.gameEnd;
  ReplayRecord& record = metadataStore_->GetOrCreateRecord(gameId);
  if (request.gameVersion != kUnknownVersion) record.gameVersion = request.gameVersion;
  if (!request.gameType.empty()) record.gameType = request.gameType;
  if (request.queueId != -1) record.queueId = request.queueId;
  record.gameEnd = gameEnd;
  metadataStore_->UpdateMetadataState(record, false, false);
}

MaybeType<Failure, Api::ReplayMetadata> ReplaysPlugin::GetMetadata(uint64_t gameId) {
  Log(LogLevel::Okay, kLogDBG | kLogXTR, "Plugin handling Replay '%llu' GET METADATA",
      LogId(gameId));
  const ReplayRecord* record = metadataStore_->FindRecord(gameId);
  if (!record) {
    Log(LogLevel::Okay, kLogDBG | kLogXTR,
        "MetadataStore: metadata for game '%llu' not found in cache", LogId(gameId));
    Log(LogLevel::Warn, kLogDBG, "Plugin found no local metadata for Replay '%llu'", LogId(gameId));
    return MakeNotFound(
        "Plugin found no local metadata. Try using the POST metadata create endpoint first.");
  }
  Log(LogLevel::Okay, kLogDBG | kLogXTR, "MetadataStore: metadata for game '%llu' found in cache",
      LogId(gameId));
  const Api::ReplayMetadata& metadata = record->metadata;
  // The text of the metadata is made only for a line that is logged: this
  // runs on every metadata request.
  if (LogMayPass(LogLevel::Okay, kLogDBG | kLogXTR))
    Log(LogLevel::Okay, kLogDBG | kLogXTR, "Plugin found local metadata for Replay '%llu': %s",
        LogId(gameId), ToText(metadata).c_str());
  return metadata;
}

void ReplaysPlugin::Scan() {
  if (configuration_.gameVersion.empty()) RefreshGameVersion();
  fileManager_->ScanAll();
}

std::string ReplaysPlugin::GetTrecPath() {
  return trecPath_;
}

std::string ReplaysPlugin::GetDefaultTrecPath() {
  return ProcessDefaultTrecPath();
}

void ReplaysPlugin::OnMetadataChanged(const Api::ReplayMetadata& metadata, bool fromServerLookup) {
  const std::string path = kMetadataEventPrefix + std::to_string(metadata.gameId);
  if (LogMayPass(LogLevel::Okay, kLogDBG | kLogXTR))
    Log(LogLevel::Okay, kLogDBG | kLogXTR, "Plugin notifying about updated metadata: %s",
        ToText(metadata).c_str());
  // A value that does not convert is traced by the framework and not sent.
  static_cast<void>(PublishResource(path, metadata, PluginResourceEventType::Update));
  // Before the first login there is no downloader and the request is dropped.
  if (fromServerLookup && metadata.state == Api::MetadataState::found && downloader_) {
    downloader_->QueueDownload(metadata.gameId);
  }
}

}  // namespace Zorv::Client::Replays
