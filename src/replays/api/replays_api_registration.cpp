#include "replays/api/replays_api_registration.h"

#include <iterator>
#include <string>

#include "binding/type_registration.h"
#include "replays/api/lcds_types.h"
#include "replays/api/replays_types.h"

namespace Zorv::Client::Replays {

namespace {

// In registration order.
constexpr LcdsContractType kLcdsContractTypes[] = {
    {"ReplayResponseStatus", "com.zorvgames.pex.replays.contract.ReplayResponseStatus"},
    {"ReplayMetadataV2", "com.zorvgames.pex.replays.contract.ReplayMetadataV2"},
    {"MultipleReplayMetadataResponseItemV2",
     "com.zorvgames.pex.replays.contract.MultipleReplayMetadataResponseItemV2"},
    {"MultipleReplayMetadataResponseV2",
     "com.zorvgames.pex.replays.contract.MultipleReplayMetadataResponseV2"},
    {"MultipleReplayMetadataRequestV2",
     "com.zorvgames.pex.replays.contract.MultipleReplayMetadataRequestV2"},
    {"DownloadUrlRequestV2", "com.zorvgames.pex.replays.contract.DownloadUrlRequestV2"},
    {"DownloadUrlResponseV2", "com.zorvgames.pex.replays.contract.DownloadUrlResponseV2"},
};

}  // namespace

void RegisterReplaysApiTypes(TypeRegistry& registry, std::string_view typePrefix) {
  using namespace Api;
  const auto name = [&](std::string_view type) { return std::string(typePrefix) += type; };

  registry.Struct<ReplaysConfiguration>(name("ReplaysConfiguration"))
      .field("isReplaysEnabled", &ReplaysConfiguration::isReplaysEnabled)
      .field("isReplaysForEndOfGameEnabled", &ReplaysConfiguration::isReplaysForEndOfGameEnabled)
      .field("isReplaysForMatchHistoryEnabled",
             &ReplaysConfiguration::isReplaysForMatchHistoryEnabled)
      .field("isPatching", &ReplaysConfiguration::isPatching)
      .field("isInTournament", &ReplaysConfiguration::isInTournament)
      .field("isPlayingGame", &ReplaysConfiguration::isPlayingGame)
      .field("isPlayingReplay", &ReplaysConfiguration::isPlayingReplay)
      .field("isLoggedIn", &ReplaysConfiguration::isLoggedIn)
      .field("gameVersion", &ReplaysConfiguration::gameVersion)
      .field("minServerVersion", &ReplaysConfiguration::minServerVersion)
      .field("minutesUntilReplayConsideredLost",
             &ReplaysConfiguration::minutesUntilReplayConsideredLost)
      .finish();
  // "error" is entered before "unsupported", though its number is higher.
  registry.Enum<MetadataState>(name("MetadataState"))
      .value("checking", MetadataState::checking)
      .value("found", MetadataState::found)
      .value("watch", MetadataState::watch)
      .value("download", MetadataState::download)
      .value("downloading", MetadataState::downloading)
      .value("incompatible", MetadataState::incompatible)
      .value("missingOrExpired", MetadataState::missingOrExpired)
      .value("retryDownload", MetadataState::retryDownload)
      .value("lost", MetadataState::lost)
      .value("error", MetadataState::error)
      .value("unsupported", MetadataState::unsupported)
      .finish();
  registry.Struct<TrecFileMetadata>(name("TrecFileMetadata"))
      .field("gameLength", &TrecFileMetadata::gameLength)
      .field("gameVersion", &TrecFileMetadata::gameVersion)
      .field("lastGameChunkId", &TrecFileMetadata::lastGameChunkId)
      .field("lastKeyFrameId", &TrecFileMetadata::lastKeyFrameId)
      .finish();
  registry.Struct<ReplayCreateMetadata>(name("ReplayCreateMetadata"))
      .field("gameVersion", &ReplayCreateMetadata::gameVersion)
      .field("gameType", &ReplayCreateMetadata::gameType)
      .field("queueId", &ReplayCreateMetadata::queueId)
      .field("gameEnd", &ReplayCreateMetadata::gameEnd)
      .finish();
  registry.Struct<ReplayMetadata>(name("ReplayMetadata"))
      .field("state", &ReplayMetadata::state)
      .field("gameId", &ReplayMetadata::gameId)
      .field("downloadProgress", &ReplayMetadata::downloadProgress)
      .finish();
  registry.Struct<ReplayContextData>(name("ReplayContextData"))
      .field("componentType", &ReplayContextData::componentType)
      .finish();
  registry.Struct<ReplaysDynamicConfig>(name("ReplaysDynamicConfig"))
      .field("MinSupportedGameServerVersion", &ReplaysDynamicConfig::MinSupportedGameServerVersion)
      .field("MinutesUntilReplayConsideredLost",
             &ReplaysDynamicConfig::MinutesUntilReplayConsideredLost)
      .finish();
  registry.Struct<GameflowAvailability>(name("GameflowAvailability"))
      .field("state", &GameflowAvailability::state)
      .finish();
  registry.Enum<GameflowPhase>(name("GameflowPhase"))
      .value("None", GameflowPhase::None)
      .value("Lobby", GameflowPhase::Lobby)
      .value("Matchmaking", GameflowPhase::Matchmaking)
      .value("CheckedIntoTournament", GameflowPhase::CheckedIntoTournament)
      .value("ReadyCheck", GameflowPhase::ReadyCheck)
      .value("CharacterSelect", GameflowPhase::CharacterSelect)
      .value("GameStart", GameflowPhase::GameStart)
      .value("FailedToLaunch", GameflowPhase::FailedToLaunch)
      .value("InProgress", GameflowPhase::InProgress)
      .value("Reconnect", GameflowPhase::Reconnect)
      .value("WaitingForStats", GameflowPhase::WaitingForStats)
      .value("PreEndOfGame", GameflowPhase::PreEndOfGame)
      .value("EndOfGame", GameflowPhase::EndOfGame)
      .value("TerminatedInError", GameflowPhase::TerminatedInError)
      .finish();
  registry.Struct<GameflowGameClient>(name("GameflowGameClient"))
      .field("running", &GameflowGameClient::running)
      .finish();
  registry.Struct<GameflowSession>(name("GameflowSession"))
      .field("phase", &GameflowSession::phase)
      .field("gameClient", &GameflowSession::gameClient)
      .finish();
  registry.Enum<GameflowWatchPhase>(name("GameflowWatchPhase"))
      .value("None", GameflowWatchPhase::None)
      .value("WatchStarted", GameflowWatchPhase::WatchStarted)
      .value("WatchInProgress", GameflowWatchPhase::WatchInProgress)
      .value("WatchFailedToLaunch", GameflowWatchPhase::WatchFailedToLaunch)
      .finish();
  registry.Struct<SkirraPlaymodeRestrictedInfo>(name("SkirraPlaymodeRestrictedInfo"))
      .field("isRestricted", &SkirraPlaymodeRestrictedInfo::isRestricted)
      .finish();
  registry.Struct<ReplaysSettingsData>(name("ReplaysSettingsData"))
      .field("replays-folder-path", &ReplaysSettingsData::replaysFolderPath)
      .field("highlights-folder-path", &ReplaysSettingsData::highlightsFolderPath)
      .finish();
  registry.Struct<ReplaysSettingsResource>(name("ReplaysSettingsResource"))
      .field("data", &ReplaysSettingsResource::data)
      .finish();
}

std::vector<LcdsContractType> RegisterLcdsContractTypes(TypeRegistry& registry) {
  using namespace LCDS;
  registry.Enum<ReplayResponseStatus>("ReplayResponseStatus")
      .value("OK", ReplayResponseStatus::OK)
      .value("NOT_FOUND", ReplayResponseStatus::NOT_FOUND)
      .value("EXPIRED", ReplayResponseStatus::EXPIRED)
      .value("BAD_REQUEST", ReplayResponseStatus::BAD_REQUEST)
      .value("INTERNAL_SERVER_ERROR", ReplayResponseStatus::INTERNAL_SERVER_ERROR)
      .finish();
  registry.Struct<ReplayMetadataV2>("ReplayMetadataV2")
      .field("gameVersion", &ReplayMetadataV2::gameVersion)
      .field("fileSize", &ReplayMetadataV2::fileSize)
      .finish();
  registry.Struct<MultipleReplayMetadataResponseItemV2>("MultipleReplayMetadataResponseItemV2")
      .field("gameId", &MultipleReplayMetadataResponseItemV2::gameId)
      .field("status", &MultipleReplayMetadataResponseItemV2::status)
      .field("metadata", &MultipleReplayMetadataResponseItemV2::metadata)
      .finish();
  registry.Struct<MultipleReplayMetadataResponseV2>("MultipleReplayMetadataResponseV2")
      .field("metadataResponses", &MultipleReplayMetadataResponseV2::metadataResponses)
      .finish();
  registry.Struct<MultipleReplayMetadataRequestV2>("MultipleReplayMetadataRequestV2")
      .field("platformId", &MultipleReplayMetadataRequestV2::platformId)
      .field("gameIds", &MultipleReplayMetadataRequestV2::gameIds)
      .finish();
  registry.Struct<DownloadUrlRequestV2>("DownloadUrlRequestV2")
      .field("platformId", &DownloadUrlRequestV2::platformId)
      .field("gameId", &DownloadUrlRequestV2::gameId)
      .finish();
  registry.Struct<DownloadUrlResponseV2>("DownloadUrlResponseV2")
      .field("url", &DownloadUrlResponseV2::url)
      .finish();
  return {std::begin(kLcdsContractTypes), std::end(kLcdsContractTypes)};
}

}  // namespace Zorv::Client::Replays
