#include "replays/plugin/replays_plugin.h"

#include <functional>
#include <string_view>
#include <utility>

#include "replays/plugin/compatibility.h"
#include "replays/plugin/support_checker.h"

namespace Zorv::Client::Replays {

ReplaysPlugin::ReplaysPlugin() = default;

// The members go in reverse declaration order, which is the order the
// plug-in promises: the FileManager, holding the last reference to the
// MetadataStore, goes last.
ReplaysPlugin::~ReplaysPlugin() = default;

void ReplaysPlugin::RegisterApi() {
  RegisterReplaysApiTypes(registry(), typePrefix());
  lcdsTypes_ = RegisterLcdsContractTypes(registry());

  Get("/pex-replays/v1/configuration", &ReplaysPlugin::GetConfiguration);
  Post(
      "/pex-replays/v1/metadata/{gameId}/create/gameVersion/{gameVersion}/gameType/{gameType}/"
      "queueId/{queueId}",
      &ReplaysPlugin::CreateMetadataV1)
      .path("gameId")
      .path("gameVersion")
      .path("gameType")
      .path("queueId");
  Post("/pex-replays/v2/metadata/{gameId}/create", &ReplaysPlugin::CreateMetadata)
      .path("gameId")
      .body("request");
  Get("/pex-replays/v1/metadata/{gameId}", &ReplaysPlugin::GetMetadata).path("gameId");
  Post("/pex-replays/v1/trecs/{gameId}/download", &ReplaysPlugin::Download)
      .path("gameId")
      .body("contextData");
  Post("/pex-replays/v1/trecs/{gameId}/download/graceful", &ReplaysPlugin::DownloadGraceful)
      .path("gameId")
      .body("contextData");
  Post("/pex-replays/v1/trecs/scan", &ReplaysPlugin::Scan);
  Get("/pex-replays/v1/trecs/path", &ReplaysPlugin::GetTrecPath);
  Get("/pex-replays/v1/trecs/path/default", &ReplaysPlugin::GetDefaultTrecPath);
  Post("/pex-replays/v1/trecs/{gameId}/watch", &ReplaysPlugin::Watch)
      .path("gameId")
      .body("contextData");
}

bool ReplaysPlugin::Start() {
  metrics_ = std::make_unique<ReplayMetrics>(telemetrySender());

  MetadataStoreCallbacks callbacks;
  callbacks.fetchRemoteMetadata = [this](uint64_t gameId) { return FetchRemoteMetadata(gameId); };
  callbacks.onChanged = [this](const Api::ReplayMetadata& metadata, bool fromServerLookup) {
    OnMetadataChanged(metadata, fromServerLookup);
  };
  callbacks.scheduleCallback = [this](std::string_view name, std::function<void()> function,
                                      MonotonicTime when) {
    return ScheduleCallback(name, std::move(function), when);
  };
  callbacks.isCompatible = [this](const std::string& gameVersion) {
    return IsCompatible(gameVersion);
  };
  metadataStore_ = std::make_shared<MetadataStore>(std::move(callbacks),
                                                   std::make_unique<ReplaysSupportChecker>());
  fileManager_ = std::make_unique<FileManager>(apiRegistry(), metadataStore_);

  SubscribeConfigurationResources();
  return true;
}

bool ReplaysPlugin::IsCompatible(const std::string& gameVersion) const {
  return Replays::IsCompatible(configuration_, gameVersion);
}

}  // namespace Zorv::Client::Replays
