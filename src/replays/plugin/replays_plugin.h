// ReplaysPlugin: the one module of the replays plug-in. The host loads it
// through load_pex_replays (entry.cpp); RegisterApi declares its types and
// its ten endpoints, Start brings up its submodules.
//
// It owns the replay submodules and the current ReplaysConfiguration, and
// every endpoint handler, resource handler and submodule callback of the
// plug-in runs on it, one at a time (the host never overlaps the module's
// callbacks), so no field is locked.
//
// REQUIRES: Start has run before any endpoint handler or callback: the
// handlers use the metrics, the MetadataStore and the FileManager unchecked.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/module/app_module.h"
#include "replays/api/lcds_types.h"
#include "replays/api/replays_api_registration.h"
#include "replays/api/replays_types.h"
#include "replays/metrics/replay_metrics.h"
#include "replays/store/downloader_submodule.h"
#include "replays/store/file_manager.h"
#include "replays/store/game_version_extractor.h"
#include "replays/store/metadata_store.h"

namespace Zorv::Client::Replays {

inline constexpr char kMetadataEventPrefix[] = "/pex-replays/v1/metadata/";
inline constexpr char kConfigurationEvent[] = "/pex-replays/v1/configuration";
inline constexpr char kTrecPathEvent[] = "/pex-replays/v1/trecs/path";

// The host resources whose values make up the configuration, in the order
// Start follows them.
inline constexpr char kSettingsResource[] = "/pex-settings/v1/local/pex-replays";
inline constexpr char kLoginDataResource[] = "/pex-login/v1/login-data-packet";
inline constexpr char kReplaySystemStatesResource[] =
    "/pex-platform-config/v1/namespaces/ClientSystemStates/replaySystemStates";
inline constexpr char kDynamicConfigResource[] = "/pex-platform-config/v1/namespaces/Replays";
inline constexpr char kAvailabilityResource[] = "/pex-gameflow/v1/availability";
inline constexpr char kSessionResource[] = "/pex-gameflow/v1/session";
inline constexpr char kWatchPhaseResource[] = "/pex-gameflow/v1/watch";
inline constexpr char kPlaymodeRestrictedResource[] = "/pex-skirra/v2/playmode-restricted";

// The default replay folder (default_trec_path.h), read from the environment
// at its first use and kept for the life of the process.
const std::string& ProcessDefaultTrecPath();

class ReplaysPlugin : public AppModule {
 public:
  ReplaysPlugin();
  // Releases the fields in reverse order: the configuration texts, the
  // metrics, the version extractor, the downloader, the store reference, then
  // the FileManager (whose own reference keeps the MetadataStore alive until
  // then).
  ~ReplaysPlugin() override;

  // The API types, then the server contract types, then the ten endpoints.
  void RegisterApi() override;
  // Creates the metrics, the MetadataStore (bound to this object's callbacks)
  // and the FileManager, replacing earlier ones, then follows the eight
  // configuration resources (their current values arrive at once). Always true.
  bool Start() override;

  // ---- Endpoint handlers
  // --------------------------------------------------------------------------
  Api::ReplaysConfiguration GetConfiguration();
  // CreateMetadata with the path values and game end 30.
  void CreateMetadataV1(uint64_t gameId, const std::string& gameVersion,
                        const std::string& gameType, int32_t queueId);
  // Creates the game's record when needed, copies what the request knows
  // ("unknown_version", an empty game type and queue -1 keep the record's
  // values; a game end of 0 stores 30) and recomputes its state.
  void CreateMetadata(uint64_t gameId, const Api::ReplayCreateMetadata& request);
  // The game's public state, or a 404 failure; never creates a record.
  MaybeType<Failure, Api::ReplayMetadata> GetMetadata(uint64_t gameId);
  // A player's download request: a "click" metric and a server lookup (at
  // once; graceful: three lookups, the first 4 s later).
  void Download(uint64_t gameId, const Api::ReplayContextData& contextData);
  void DownloadGraceful(uint64_t gameId, const Api::ReplayContextData& contextData);
  // Reads every replay file of the folder into the MetadataStore, after
  // reading the installed game version when none is known yet.
  void Scan();
  std::string GetTrecPath();
  std::string GetDefaultTrecPath();
  // A player's watch request: a "click" metric; a game whose replay file is
  // gone goes back to download; while a replay plays the request is refused;
  // otherwise the game flow is asked to launch the file (with the highlights
  // folder of the settings, when one is set) and the game becomes the watched
  // one until the launch fails or the replay ends.
  void Watch(uint64_t gameId, const Api::ReplayContextData& contextData);

  // ---- Callbacks of the submodules
  // ---------------------------------------------------------------- Whether a replay of this game
  // version can be played with the installed game and the server's minimum (compatibility.h).
  bool IsCompatible(const std::string& gameVersion) const;
  // Publishes the record's state as an Update event of
  // "/pex-replays/v1/metadata/<gameId>".
  void OnMetadataChanged(const Api::ReplayMetadata& metadata, bool fromServerLookup);
  // Asks the server for one game's metadata and waits for the answer: the
  // first answered item, or a failure (the proxy's, or code 0 "empty response").
  FetchResult FetchRemoteMetadata(uint64_t gameId);

  // ---- Configuration (plugin_configuration.cpp, plugin_resources.cpp) --------------------------
  // Logs, applies and publishes the change from `old` to the live
  // configuration; nothing at all when they are equal. Every change of the
  // configuration goes: copy, change the live value, UpdateConfiguration(copy).
  void UpdateConfiguration(const Api::ReplaysConfiguration& old);
  // The effects of a change on the submodules: a version refresh when
  // patching ended, the store's lost limit and verdicts, the watching metrics.
  void ApplyConfigurationChange(const Api::ReplaysConfiguration& old);
  // Reads the installed game version through a new GameVersionExtractor; a
  // failure is logged and keeps the known version.
  void RefreshGameVersion();
  // Makes `folder` the replay folder: creates it, resets every record to
  // download, rescans and publishes the folder (plugin_trec_path.cpp).
  void SetTrecPath(const std::string& folder);

  // The eight resource handlers, in subscription order.
  void OnSettingsChanged(const ResourceEvent<Api::ReplaysSettingsResource>& event);
  void OnLoginDataPacket(const ResourceEvent<BindingProperty>& event);
  void OnReplaySystemStates(const ResourceEvent<BindingProperty>& event);
  void OnDynamicConfig(const ResourceEvent<Api::ReplaysDynamicConfig>& event);
  void OnGameflowAvailability(const ResourceEvent<Api::GameflowAvailability>& event);
  void OnGameflowSession(const ResourceEvent<Api::GameflowSession>& event);
  void OnGameflowWatchPhase(const ResourceEvent<Api::GameflowWatchPhase>& event);
  void OnPlaymodeRestricted(const ResourceEvent<Api::SkirraPlaymodeRestrictedInfo>& event);

  // ---- State ------------------------------------------------------------------------------------
  const Api::ReplaysConfiguration& configuration() const { return configuration_; }
  MetadataStore* metadataStore() const { return metadataStore_.get(); }
  FileManager* fileManager() const { return fileManager_.get(); }
  DownloaderSubmodule* downloader() const { return downloader_.get(); }
  const std::string& platformId() const { return platformId_; }
  const std::optional<uint64_t>& watchingGameId() const { return watchingGameId_; }
  const std::vector<LcdsContractType>& lcdsTypes() const { return lcdsTypes_; }

 protected:
  // Follows the eight configuration resources, in order (plugin_resources.cpp).
  void SubscribeConfigurationResources();

  // The server contract types with their class names, kept from RegisterApi.
  std::vector<LcdsContractType> lcdsTypes_;

  std::unique_ptr<FileManager> fileManager_;
  std::shared_ptr<MetadataStore> metadataStore_;
  // Created anew at every login data packet; its scheduled job holds a second reference.
  std::shared_ptr<DownloaderSubmodule> downloader_;
  // Created anew at every version refresh.
  std::unique_ptr<GameVersionExtractor> gameVersionExtractor_;
  std::unique_ptr<ReplayMetrics> metrics_;
  std::string trecPath_;                    // the current replay folder
  std::string platformId_;                  // of the logged-in account; empty before the login data
  std::optional<uint64_t> watchingGameId_;  // the replay whose launch this plug-in requested
  Api::ReplaysConfiguration configuration_;
};

}  // namespace Zorv::Client::Replays
