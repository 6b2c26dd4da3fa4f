// The data types of the plug-in's own endpoints and events, of the host
// resources it follows and of the metadata block inside a replay file.
//
// Plain records: their JSON keys, kinds and enum spellings are fixed by their
// registration (replays_api_registration.h), which is the wire format the host,
// the user interface and other plug-ins see. Defaults are the values a missing
// key leaves in place when a value is read.
#pragma once

#include <cstdint>
#include <string>

namespace Zorv::Client::Replays::Api {

// The effective replay configuration, published as a resource.
struct ReplaysConfiguration {
  bool isReplaysEnabled = false;
  bool isReplaysForEndOfGameEnabled = false;
  bool isReplaysForMatchHistoryEnabled = false;
  bool isPatching = false;
  bool isInTournament = false;
  bool isPlayingGame = false;
  bool isPlayingReplay = false;
  bool isLoggedIn = false;
  std::string gameVersion;
  std::string minServerVersion;
  double minutesUntilReplayConsideredLost = 30.0;

  // Every member equal; the double with floating-point equality, so a NaN
  // makes two configurations unequal, even a configuration and itself.
  friend bool operator==(const ReplaysConfiguration&, const ReplaysConfiguration&) = default;
};

// The state of one game's replay. The numbers are part of the wire format
// (error is 10, unsupported 9).
enum class MetadataState : int32_t {
  checking = 0,
  found = 1,
  watch = 2,
  download = 3,
  downloading = 4,
  incompatible = 5,
  missingOrExpired = 6,
  retryDownload = 7,
  lost = 8,
  unsupported = 9,
  error = 10,
};

// The metadata block stored in a replay file.
struct TrecFileMetadata {
  uint32_t gameLength = 0;
  std::string gameVersion;
  uint32_t lastGameChunkId = 0;
  uint32_t lastKeyFrameId = 0;
};

// Body of the metadata-create endpoint. A missing key means "not known".
struct ReplayCreateMetadata {
  std::string gameVersion = "unknown_version";
  std::string gameType;
  int32_t queueId = -1;
  uint64_t gameEnd = 0;  // milliseconds since 1970-01-01 UTC; 0: not given
};

// The public state of one game's replay.
struct ReplayMetadata {
  MetadataState state = MetadataState::checking;
  uint64_t gameId = 0;
  uint32_t downloadProgress = 0;  // percent, 0 to 100
};

// Body of the download and watch actions.
struct ReplayContextData {
  std::string componentType;
};

// Payload of the platform-configuration namespace "Replays".
struct ReplaysDynamicConfig {
  std::string MinSupportedGameServerVersion;
  double MinutesUntilReplayConsideredLost = 30.0;
};

struct GameflowAvailability {
  std::string state;
};

enum class GameflowPhase : int32_t {
  None = 0,
  Lobby = 1,
  Matchmaking = 2,
  CheckedIntoTournament = 3,
  ReadyCheck = 4,
  CharacterSelect = 5,
  GameStart = 6,
  FailedToLaunch = 7,
  InProgress = 8,
  Reconnect = 9,
  WaitingForStats = 10,
  PreEndOfGame = 11,
  EndOfGame = 12,
  TerminatedInError = 13,
};

struct GameflowGameClient {
  bool running = false;
};

// The two keys of the game-flow session that the plug-in reads.
struct GameflowSession {
  GameflowPhase phase = GameflowPhase::None;
  GameflowGameClient gameClient;
};

enum class GameflowWatchPhase : int32_t {
  None = 0,
  WatchStarted = 1,
  WatchInProgress = 2,
  WatchFailedToLaunch = 3,
};

struct SkirraPlaymodeRestrictedInfo {
  bool isRestricted = false;
};

// The plug-in's persisted settings.
struct ReplaysSettingsData {
  std::string replaysFolderPath;
  std::string highlightsFolderPath;
};

struct ReplaysSettingsResource {
  ReplaysSettingsData data;
};

}  // namespace Zorv::Client::Replays::Api
