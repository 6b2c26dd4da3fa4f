// FileManager: the replay folder and the replay files in it.
//
//   FileManager files(registry, store);
//   files.SetFolder("/home/me/Documents/Vellmoor/Replays");
//   files.ScanAll();  // every NA1-<gameId>.trec of the folder becomes a record with its path
//
// It lists the folder's replay files, takes the game id from each file name,
// reads each file's metadata block and hands the path and recorded game
// version to the MetadataStore, which decides the replay's state. It keeps no
// metadata of its own. One broken file never stops a scan: each failure is
// logged with the file's name and the scan goes on.
//
// Not thread-safe: it runs with the store's operations on the module's
// callback context, one call at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "replays/api/replays_types.h"

namespace Zorv::Client {
class ApiRegistry;
}

namespace Zorv::Client::Replays {

class MetadataStore;

// A replay file of the last listing and the game id its name gives.
struct TrecFileEntry {
  std::string path;
  uint64_t gameId = 0;
};

class FileManager {
 public:
  // REQUIRES: registry holds the replay API types and outlives this object; store is set.
  FileManager(ApiRegistry& registry, std::shared_ptr<MetadataStore> store);
  FileManager(const FileManager&) = delete;
  FileManager& operator=(const FileManager&) = delete;

  // Lists the folder and reads every replay file into the store, through one
  // zero-filled 32 KiB read buffer. Marks the manager as having scanned.
  void ScanAll();
  // Refills entries() with the regular files directly in the folder whose
  // path ends in ".trec" (case-sensitive) and whose name parses, in the
  // folder's own order. A symbolic link to a regular file is listed under the
  // link's path, as the file it stands for; links to anything else, folders,
  // FIFOs and devices are not. An empty, missing or unreadable folder lists
  // nothing.
  void ListTrecFiles();
  // The platform id and game id of a name "<platform>-<digits>.trec" (the
  // extension in any case), or no value after a WARN line. Game ids 0 and
  // 18446744073709551615 (also what an overlong number reads as) are invalid.
  static std::optional<std::pair<std::string, uint64_t>> ParseTrecFileName(std::string_view name);
  // Reads one replay file and, when its metadata can be read, records its
  // path and game version in the store for `gameId`. A file without metadata
  // leaves the store untouched.
  void CacheMetadataFromFile(std::span<char> readBuffer, uint64_t gameId, const std::string& path);

  // The replay file reader (trec_file.h, trec_metadata.h) with this module's types.
  std::string ReadMetadataText(const std::string& path, std::span<char> readBuffer) const;
  std::optional<Api::TrecFileMetadata> ParseTrecMetadata(std::string_view path,
                                                         std::string_view text) const;

  const std::string& folder() const { return folder_; }
  void SetFolder(std::string folder) { folder_ = std::move(folder); }
  bool scannedOnce() const { return scannedOnce_; }
  const std::vector<TrecFileEntry>& entries() const { return entries_; }

 private:
  ApiRegistry& registry_;
  std::shared_ptr<MetadataStore> store_;
  std::string folder_;
  bool scannedOnce_ = false;
  std::vector<TrecFileEntry> entries_;
};

}  // namespace Zorv::Client::Replays
