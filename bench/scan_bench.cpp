// A scan of a folder of 10,000 replay files into the metadata store against
// the floor: a plain loop that lists the folder and, per file, opens it, reads
// the magic, the block's offset and length words and the block, closes it and
// parses the block with RapidJSON.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <rapidjson/document.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "framework/module/api_registry.h"
#include "inputs.h"
#include "replays/api/replays_api_registration.h"
#include "replays/store/file_manager.h"
#include "replays/store/metadata_store.h"
#include "replays/store/trec_file.h"
#include "trec/trec_writer.h"

namespace Zorv::Bench {
namespace {

using namespace Client::Replays;
using Client::ApiRegistry;

constexpr size_t kFiles = 10'000;

// The replay folder, written once per process and removed at exit.
class ReplayFolder {
 public:
  ReplayFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pex_bench.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    TrecImage image;
    image.metadata = MetadataBlock();
    image.bodySize = 1024;
    for (size_t i = 0; i < kFiles; ++i) {
      if (!WriteTrecFile(path_ + "/NA1-" + std::to_string(5'000'000 + i) + ".trec", image)) {
        path_.clear();
        return;
      }
    }
  }
  ~ReplayFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  // Empty when the folder could not be written.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const ReplayFolder& Folder() {
  static const ReplayFolder folder;
  return folder;
}

class AllSupported : public SupportChecker {
 public:
  bool IsSupported(const std::string&, int32_t) const override { return true; }
};

std::shared_ptr<MetadataStore> NewStore() {
  MetadataStoreCallbacks callbacks{
      [](uint64_t) -> FetchResult { return MakeFailureText(0, "no server in the benchmark"); },
      [](const Api::ReplayMetadata&, bool) {},
      [](std::string_view, std::function<void()>, MonotonicTime) { return uint64_t{1}; },
      [](const std::string&) { return true; },
  };
  return std::make_shared<MetadataStore>(std::move(callbacks), std::make_unique<AllSupported>());
}

void BM_Scan_Ours(benchmark::State& state) {
  if (Folder().path().empty()) return state.SkipWithError("could not write the replay folder");
  ApiRegistry registry;
  RegisterReplaysApiTypes(registry.types(), "PexReplays");
  for (auto _ : state) {
    state.PauseTiming();
    auto files = std::make_unique<FileManager>(registry, NewStore());
    files->SetFolder(Folder().path());
    state.ResumeTiming();
    files->ScanAll();
    state.PauseTiming();
    if (files->entries().size() != kFiles) state.SkipWithError("the scan missed files");
    files.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kFiles));
}

uint32_t Word(const unsigned char* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

// Reads one file's block as cheaply as the system allows; false on any fault.
bool ReadAndParse(const std::string& path, char* block) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char magic[4];
  unsigned char words[8];
  bool ok = ::pread(fd, magic, 4, 0) == 4 && std::memcmp(magic, kTrecMagic, 4) == 0 &&
            ::pread(fd, words, 8, kTrecMetadataOffsetPosition) == 8;
  const uint32_t length = ok ? Word(words + 4) : 0;
  ok = ok && length < 4096 && ::pread(fd, block, length, Word(words)) == length;
  ::close(fd);
  if (!ok) return false;
  block[length] = '\0';
  rapidjson::Document document;
  document.ParseInsitu(block);
  return !document.HasParseError() && document.HasMember("gameVersion");
}

void BM_Scan_Floor(benchmark::State& state) {
  if (Folder().path().empty()) return state.SkipWithError("could not write the replay folder");
  char block[4096];
  for (auto _ : state) {
    DIR* dir = ::opendir(Folder().path().c_str());
    size_t read = 0;
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      read += ReadAndParse(Folder().path() + "/" + entry->d_name, block);
    }
    ::closedir(dir);
    if (read != kFiles) state.SkipWithError("the loop missed files");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kFiles));
}
BENCHMARK(BM_Scan_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan_Floor)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace Zorv::Bench
