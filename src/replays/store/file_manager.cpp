#include "replays/store/file_manager.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <memory>
#include <vector>

#include "framework/module/api_registry.h"
#include "logging/log.h"
#include "platform/file_system.h"
#include "replays/store/metadata_store.h"
#include "replays/store/trec_file.h"
#include "replays/store/trec_metadata.h"

namespace Zorv::Client::Replays {
namespace {

constexpr std::string_view kTrecExtension = ".trec";

bool EndsWithExtensionIgnoringCase(std::string_view text) {
  if (text.size() < kTrecExtension.size()) return false;
  const std::string_view tail = text.substr(text.size() - kTrecExtension.size());
  for (size_t i = 0; i < tail.size(); ++i) {
    const char c =
        tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] - 'A' + 'a') : tail[i];
    if (c != kTrecExtension[i]) return false;
  }
  return true;
}

// strtoull over a run of decimal digits: too large a number reads as the largest value.
uint64_t ParseDecimal(std::string_view digits) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t value = 0;
  for (char c : digits) {
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (kMax - digit) / 10) return kMax;
    value = value * 10 + digit;
  }
  return value;
}

std::string_view FileNameOf(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A link is followed; a file system that does not give the type costs a stat.
bool IsRegularFile(const dirent& entry, const std::string& path) {
  if (entry.d_type == DT_REG) return true;
  if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

FileManager::FileManager(ApiRegistry& registry, std::shared_ptr<MetadataStore> store)
    : registry_(registry), store_(std::move(store)) {}

void FileManager::ScanAll() {
  scannedOnce_ = true;
  Log(LogLevel::Okay, kLogGEN, "FileManager: scanning for trec files");
  ListTrecFiles();
  std::vector<char> buffer(kTrecReadBufferSize, '\0');
  for (const TrecFileEntry& entry : entries_) {
    CacheMetadataFromFile(buffer, entry.gameId, entry.path);
  }
}

void FileManager::ListTrecFiles() {
  entries_.clear();
  if (!Platform::IsDirectory(folder_)) return;
  // readdir rather than std::filesystem: the entry's type comes with its
  // name, and no path object is built for files that are not replays.
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder_.c_str()), &::closedir);
  if (!dir) return;
  std::string path = folder_;
  if (!path.ends_with('/')) path.push_back('/');
  const size_t prefixLength = path.size();
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (!name.ends_with(kTrecExtension)) continue;
    path.resize(prefixLength);
    path.append(name);
    if (!IsRegularFile(*entry, path)) continue;
    if (auto parsed = ParseTrecFileName(FileNameOf(name))) {
      entries_.push_back(TrecFileEntry{path, parsed->second});
    }
  }
}

std::optional<std::pair<std::string, uint64_t>> FileManager::ParseTrecFileName(
    std::string_view name) {
  // "^([^-]+)-(\d+)\.trec$", ignoring case: the first hyphen ends the platform id.
  const size_t hyphen = name.find('-');
  const bool shaped = [&] {
    if (hyphen == 0 || hyphen == std::string_view::npos) return false;
    if (!EndsWithExtensionIgnoringCase(name)) return false;
    const size_t digitsEnd = name.size() - kTrecExtension.size();
    if (digitsEnd <= hyphen + 1) return false;
    for (size_t i = hyphen + 1; i < digitsEnd; ++i) {
      if (name[i] < '0' || name[i] > '9') return false;
    }
    return true;
  }();
  const int shownLength = static_cast<int>(std::min<size_t>(name.size(), INT_MAX));
  const char* shown = name.empty() ? "" : name.data();
  if (!shaped) {
    Log(LogLevel::Warn, kLogDBG,
        "FileManager: failed to extract platform and gameId from trec '%.*s'", shownLength, shown);
    return std::nullopt;
  }
  const uint64_t gameId =
      ParseDecimal(name.substr(hyphen + 1, name.size() - kTrecExtension.size() - hyphen - 1));
  if (gameId == 0 || gameId == std::numeric_limits<uint64_t>::max()) {
    Log(LogLevel::Warn, kLogDBG, "FileManager: ignoring trec with invalid game ID '%.*s'",
        shownLength, shown);
    return std::nullopt;
  }
  return std::make_pair(std::string(name.substr(0, hyphen)), gameId);
}

void FileManager::CacheMetadataFromFile(std::span<char> readBuffer, uint64_t gameId,
                                        const std::string& path) {
  // A file that cannot be read has had its one WARN line; only a block that
  // was read, empty or not, goes to the parser (which names an empty one).
  std::optional<std::string> text = ReadMetadataBlock(path, readBuffer);
  const std::optional<Api::TrecFileMetadata> metadata =
      text ? ParseTrecMetadata(path, *text) : std::nullopt;
  const auto id = static_cast<unsigned long long>(gameId);
  if (!metadata) {
    Log(LogLevel::Warn, kLogDBG,
        "FileManager: reading metadata from trec for game '%llu' at path '%s' failed", id,
        path.c_str());
    return;
  }
  Log(LogLevel::Okay, kLogDBG | kLogXTR,
      "FileManager: reading metadata from trec game '%llu' at path '%s' succeeded", id,
      path.c_str());
  Log(LogLevel::Okay, kLogDBG | kLogXTR,
      "FileManager: caching metadata for Replay gameId '%llu', gameVersion '%s', trecPath '%s'", id,
      metadata->gameVersion.c_str(), path.c_str());
  store_->SetTrecPathForGame(gameId, path, metadata->gameVersion);
}

std::string FileManager::ReadMetadataText(const std::string& path,
                                          std::span<char> readBuffer) const {
  return Replays::ReadMetadataText(path, readBuffer);
}

std::optional<Api::TrecFileMetadata> FileManager::ParseTrecMetadata(std::string_view path,
                                                                    std::string_view text) const {
  return Replays::ParseTrecMetadata(registry_.types(), path, text);
}

}  // namespace Zorv::Client::Replays
