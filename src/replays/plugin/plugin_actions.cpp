// The player's download and watch actions.
#include "logging/log.h"
#include "replays/plugin/replays_plugin.h"

namespace Zorv::Client::Replays {

void ReplaysPlugin::Download(uint64_t gameId, const Api::ReplayContextData& contextData) {
  Log(LogLevel::Okay, kLogGEN,
      "Plugin handling Replay '%llu' player action, DOWNLOAD, componentType=%s",
      static_cast<unsigned long long>(gameId), contextData.componentType.c_str());
  metrics_->SendDownloadClick(gameId, contextData.componentType, false);
  metadataStore_->RequestMetadataFetch(gameId, false);
}

void ReplaysPlugin::DownloadGraceful(uint64_t gameId, const Api::ReplayContextData& contextData) {
  Log(LogLevel::Okay, kLogGEN,
      "Plugin handling Replay '%llu' player action, DOWNLOAD GRACEFUL, componentType=%s",
      static_cast<unsigned long long>(gameId), contextData.componentType.c_str());
  metrics_->SendDownloadClick(gameId, contextData.componentType, true);
  metadataStore_->RequestMetadataFetch(gameId, true);
}

void ReplaysPlugin::Watch(uint64_t, const Api::ReplayContextData&) {
  // TODO(merge): the watch action (file check, launch request and its metrics).
}

}  // namespace Zorv::Client::Replays
