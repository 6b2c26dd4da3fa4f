// Changing the replay folder: every record starts over from the new folder.
#include <string>
#include <vector>

#include "framework/events/observe.h"
#include "logging/log.h"
#include "platform/file_system.h"
#include "replays/plugin/replays_plugin.h"
#include "replays/store/default_trec_path.h"

namespace Zorv::Client::Replays {

const std::string& ProcessDefaultTrecPath() {
  static const std::string path = DefaultTrecPath();
  return path;
}

void ReplaysPlugin::SetTrecPath(const std::string& folder) {
  trecPath_ = folder;
  // A folder that cannot be created lists nothing; the scan below then finds no replay.
  static_cast<void>(Platform::CreateDirectories(folder));
  if (downloader_) downloader_->SetTrecPath(folder);
  Log(LogLevel::Okay, kLogGEN, "FileManager: trec path set to '%s'", folder.c_str());
  fileManager_->SetFolder(folder);

  // By id: a publication may create records and rehash the map.
  std::vector<uint64_t> gameIds;
  gameIds.reserve(metadataStore_->records().size());
  for (const auto& [gameId, record] : metadataStore_->records()) gameIds.push_back(gameId);
  for (uint64_t gameId : gameIds) {
    ReplayRecord* record = metadataStore_->FindRecord(gameId);
    if (record == nullptr) continue;
    record->metadata.state = Api::MetadataState::download;
    record->trecPath.clear();
    if (record->serverStatus == LCDS::ReplayResponseStatus::OK) record->serverStatus.reset();
    metadataStore_->Publish(*record);
  }

  fileManager_->ScanAll();
  metadataStore_->UpdateAllMetadataStates();
  static_cast<void>(PublishResource(kTrecPathEvent, folder, PluginResourceEventType::Update));
}

}  // namespace Zorv::Client::Replays
