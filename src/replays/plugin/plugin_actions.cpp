// The player's download actions.
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

}  // namespace Zorv::Client::Replays
