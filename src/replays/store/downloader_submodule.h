// DownloaderSubmodule: fetches replay files from the web into the replay folder.
//
//   std::shared_ptr<DownloaderSubmodule> downloader =
//       DownloaderSubmodule::Create(module, store, "NA1", metrics, files);
//   downloader->SetTrecPath(folder);
//   downloader->QueueDownload(42);  // downloading 0 now; the job does the rest
//
// Per game, the download job asks the server for the address
// ("replays.retrieval" / "getDownloadUrl"), fetches it with one HTTP GET
// through the host, writes the body into the folder under the address's file
// name, and hands the file to the FileManager, which makes the record watch
// through the store. Any failure before the file is in place leaves the record
// in retryDownload; a file whose metadata cannot be read leaves it
// downloading at 100. Nothing is retried automatically.
//
// Promises:
// - Files are only ever created directly in the replay folder, under a plain
//   name (download_file_name.h); an address without one is refused.
// - The body is written from the host's memory, never copied: a replay is
//   held once between the transfer and the write.
// - A file appears complete or not at all: it is written to a temporary file
//   of the folder and renamed over the target, so a failed download leaves
//   an earlier replay of that name untouched, and a symbolic link at the
//   target is replaced, never written through.
// - One job at a time drains the queue, games queued while it runs included.
//   The scheduled job owns a reference to the downloader, so a downloader
//   replaced (on new login data) while its job is scheduled or waiting for
//   the server stays alive until that job has finished its queue.
//
// Not thread-safe: QueueDownload, SetTrecPath and the job run one at a time
// on the module's callback context. REQUIRES: the module, the metrics and the
// file manager outlive every job of the downloader.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "framework/hostapi/failure.h"
#include "framework/hostapi/maybe_type.h"

namespace Zorv::Client {
class AppModule;
}

namespace Zorv::Client::Replays {

class FileManager;
class MetadataStore;
class ReplayMetrics;

class DownloaderSubmodule : public std::enable_shared_from_this<DownloaderSubmodule> {
 public:
  // Logs the construction with the platform id. The downloader must be owned
  // by a shared pointer (its job keeps a reference), hence the factory.
  static std::shared_ptr<DownloaderSubmodule> Create(AppModule& module,
                                                     std::shared_ptr<MetadataStore> store,
                                                     std::string platformId, ReplayMetrics& metrics,
                                                     FileManager& fileManager);
  DownloaderSubmodule(const DownloaderSubmodule&) = delete;
  DownloaderSubmodule& operator=(const DownloaderSubmodule&) = delete;

  // ---- Virtual slots, in order after the destructor --------------------------------------------
  virtual ~DownloaderSubmodule();
  // Makes the record downloading at 0 (published), appends the game (a game
  // may be queued twice) and schedules the download job unless it runs.
  virtual void QueueDownload(uint64_t gameId);
  // Downloads `url` into the folder; the written file's path, or empty after
  // the failure was logged and sent as a metric.
  virtual std::string DownloadTrec(const std::string& url, uint64_t gameId);
  // The game's download address from the server, or empty after the failure
  // was logged and sent as a metric.
  virtual std::string FetchDownloadUrl(uint64_t gameId);
  virtual void SetTrecPath(const std::string& path);

  // One game, start to end: address, download, then the file's metadata into
  // the store. Any failure before the file is written marks retryDownload.
  void DownloadGame(uint64_t gameId);

  // Writes `bytes` to `path` whole or not at all: through a temporary file in
  // the same folder, renamed over `path` (not synced to disk). On failure the
  // temporary file is gone and whatever was at `path` is unchanged. The new
  // file gets the permissions of any new file (0666 less the umask).
  static MaybeType<Failure, void> WriteFile(const std::string& path, std::string_view bytes);

  const std::string& platformId() const { return platformId_; }
  const std::string& trecPath() const { return trecPath_; }
  bool downloadJobRunning() const { return downloadJobsRunning_ > 0; }
  const std::deque<uint64_t>& downloadQueue() const { return downloadQueue_; }

 protected:
  DownloaderSubmodule(AppModule& module, std::shared_ptr<MetadataStore> store,
                      std::string platformId, ReplayMetrics& metrics, FileManager& fileManager);

 private:
  void RunDownloadJob();

  AppModule& module_;
  std::shared_ptr<MetadataStore> store_;
  std::string platformId_;
  std::string trecPath_;
  int32_t downloadJobsRunning_ = 0;
  std::deque<uint64_t> downloadQueue_;
  ReplayMetrics& metrics_;
  FileManager& fileManager_;
};

}  // namespace Zorv::Client::Replays
