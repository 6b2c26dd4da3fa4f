#include "replays/store/downloader_submodule.h"

#include <array>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/hostapi/host_request.h"
#include "framework/module/app_module.h"
#include "logging/log.h"
#include "platform/file_system.h"
#include "platform/join_path.h"
#include "platform/monotonic_clock.h"
#include "replays/api/lcds_types.h"
#include "replays/metrics/replay_metrics.h"
#include "replays/store/download_file_name.h"
#include "replays/store/file_manager.h"
#include "replays/store/metadata_store.h"
#include "replays/store/trec_file.h"
#include "zorv/plugin_abi.h"

namespace Zorv::Client::Replays {
namespace {

using Api::MetadataState;

unsigned long long Id(uint64_t gameId) {
  return static_cast<unsigned long long>(gameId);
}

bool Succeeded(const HostResponse& response) {
  return response.resultCode == 0 && response.status >= 200 && response.status <= 299 &&
         !response.conversionFailed && response.error.empty();
}

}  // namespace

std::shared_ptr<DownloaderSubmodule> DownloaderSubmodule::Create(
    AppModule& module, std::shared_ptr<MetadataStore> store, std::string platformId,
    ReplayMetrics& metrics, FileManager& fileManager) {
  return std::shared_ptr<DownloaderSubmodule>(new DownloaderSubmodule(
      module, std::move(store), std::move(platformId), metrics, fileManager));
}

DownloaderSubmodule::DownloaderSubmodule(AppModule& module, std::shared_ptr<MetadataStore> store,
                                         std::string platformId, ReplayMetrics& metrics,
                                         FileManager& fileManager)
    : module_(module),
      store_(std::move(store)),
      platformId_(std::move(platformId)),
      metrics_(metrics),
      fileManager_(fileManager) {
  Log(LogLevel::Okay, kLogGEN, "DownloaderSubmodule: instantiated with platform id '%s'",
      platformId_.c_str());
}

DownloaderSubmodule::~DownloaderSubmodule() = default;

void DownloaderSubmodule::QueueDownload(uint64_t gameId) {
  ReplayRecord& record = store_->GetOrCreateRecord(gameId);
  record.metadata.state = MetadataState::downloading;
  record.metadata.downloadProgress = 0;
  store_->Publish(record);

  downloadQueue_.push_back(gameId);
  if (downloadJobsRunning_ < 1) {
    downloadJobsRunning_ = 1;
    const MonotonicTime now = MonotonicClock::now();
    // The job holds the downloader: login data may replace it while the job
    // is scheduled or waits for the server.
    module_.ScheduleCallback(
        "replays download trec job " + std::to_string(now.time_since_epoch().count()),
        [self = shared_from_this()] { self->RunDownloadJob(); }, now);
  }
}

void DownloaderSubmodule::RunDownloadJob() {
  Log(LogLevel::Okay, kLogGEN, "DownloaderSubmodule: Trec download job started");
  // Cleared however the run ends, or no download job would ever run again.
  struct RunningFlag {
    int32_t& running;
    ~RunningFlag() { running = 0; }
  } flag{downloadJobsRunning_};
  // Handlers that run while a download waits may append to the queue; this run takes them too.
  while (!downloadQueue_.empty()) {
    const uint64_t gameId = downloadQueue_.front();
    downloadQueue_.pop_front();
    // A game whose download fails unexpectedly (out of memory, say) must
    // neither stay downloading for ever nor hold up the games behind it.
    try {
      DownloadGame(gameId);
    } catch (const std::exception& error) {
      Log(LogLevel::Warn, kLogDBG, "DownloaderSubmodule: download of game '%llu' failed: %s",
          Id(gameId), error.what());
      store_->MarkRetryDownload(gameId);
    }
  }
  Log(LogLevel::Okay, kLogGEN, "DownloaderSubmodule: Trec download job ending");
}

void DownloaderSubmodule::DownloadGame(uint64_t gameId) {
  const std::string url = FetchDownloadUrl(gameId);
  if (url.empty()) {
    store_->MarkRetryDownload(gameId);
    return;
  }
  const std::string path = DownloadTrec(url, gameId);
  if (path.empty()) {
    store_->MarkRetryDownload(gameId);
    return;
  }
  // Looked up again: other handlers may have run while the download waited.
  ReplayRecord& record = store_->GetOrCreateRecord(gameId);
  record.metadata.state = MetadataState::downloading;
  record.metadata.downloadProgress = 100;
  store_->Publish(record);

  Log(LogLevel::Okay, kLogDBG | kLogXTR, "FileManager: scanning trec for game '%llu' at path '%s'",
      Id(gameId), path.c_str());
  std::vector<char> buffer(kTrecReadBufferSize, '\0');
  fileManager_.CacheMetadataFromFile(buffer, gameId, path);
}

std::string DownloaderSubmodule::FetchDownloadUrl(uint64_t gameId) {
  Log(LogLevel::Okay, kLogGEN,
      "DownloaderSubmodule: fetching download URL for platform '%s' game '%llu'",
      platformId_.c_str(), Id(gameId));
  metrics_.SendStep(MetricGroup::DownloadingReplay, MetricStep::TrecUrlRequest, gameId);

  const LCDS::DownloadUrlRequestV2 request{platformId_, gameId};
  MaybeType<Failure, LCDS::DownloadUrlResponseV2> answer =
      module_.CallServiceProxySync<LCDS::DownloadUrlRequestV2, LCDS::DownloadUrlResponseV2>(
          "replays.retrieval", "getDownloadUrl", request);
  if (!answer) {
    Log(LogLevel::Warn, kLogDBG,
        "DownloaderSubmodule: fetching download URL failed: platform '%s', game '%llu', error "
        "code '%d'",
        platformId_.c_str(), Id(gameId), static_cast<int>(answer.failure().code));
    metrics_.SendStep(MetricGroup::DownloadingReplay, MetricStep::TrecUrlResponseError, gameId,
                      answer.failure().message);
    return {};
  }
  if (answer.value().url.empty()) {
    Log(LogLevel::Warn, kLogDBG,
        "DownloaderSubmodule: server response OK, LCDS could not retrieve download URL for "
        "platform '%s' game '%llu'",
        platformId_.c_str(), Id(gameId));
    metrics_.SendStep(MetricGroup::DownloadingReplay, MetricStep::TrecUrlResponseError, gameId,
                      "server response OK, but no url returned");
    return {};
  }
  metrics_.SendStep(MetricGroup::DownloadingReplay, MetricStep::TrecUrlResponseOk, gameId);
  return std::move(answer.value().url);
}

std::string DownloaderSubmodule::DownloadTrec(const std::string& url, uint64_t gameId) {
  // A name that is not a plain file name could leave the folder: it counts as none.
  const std::optional<std::string_view> name = DownloadFileName(url);
  if (!name) {
    Log(LogLevel::Warn, kLogDBG,
        "DownloaderSubmodule: failed to extract filename from url for game '%llu'", Id(gameId));
    metrics_.SendStep(MetricGroup::DownloadingReplay, MetricStep::ProcessingAnomaly, gameId,
                      "Failed to extract filename from url");
    return {};
  }
  const std::string fileName(*name);

  // Without a folder the join would name a file of the working directory.
  std::array<char, Platform::kMaxPathChars> joined{};
  if (trecPath_.empty() || !Platform::JoinPath(joined, {trecPath_, fileName})) {
    Log(LogLevel::Warn, kLogDBG,
        "DownloaderSubmodule: failed to join path '%s' with filename '%s' for game '%llu'",
        trecPath_.c_str(), fileName.c_str(), Id(gameId));
    metrics_.SendStep(MetricGroup::DownloadingReplay, MetricStep::ProcessingAnomaly, gameId,
                      "Downloader failed to join path " + trecPath_ + " with filename " + fileName);
    return {};
  }
  const std::string path(joined.data());

  Log(LogLevel::Okay, kLogGEN,
      "DownloaderSubmodule: server request, WEB trec download for game '%llu'", Id(gameId));
  metrics_.SendStep(MetricGroup::DownloadingReplay, MetricStep::TrecDownloadRequest, gameId);

  HostRequest request;
  request.method = HOST_METHOD_GET;
  request.url = url;
  request.optionWord = 0;
  request.optionFlag = 1;
  // The file is written from the body where the host holds it: a replay of
  // many MiB is then held once, not twice. Only an answer that succeeded is
  // written; the lines and metrics below come in their usual order.
  std::optional<MaybeType<Failure, void>> written;
  size_t bodySize = 0;
  const HostResponse response =
      module_.SendHttpRequest(request, [&](const HostResponse& head, std::string_view body) {
        if (!Succeeded(head)) return;
        bodySize = body.size();
        Platform::CreateDirectories(trecPath_);
        written = WriteFile(path, body);
      });

  if (!Succeeded(response)) {
    std::string text;
    if (response.resultCode != 0 && response.status != 200) {
      Log(LogLevel::Warn, kLogDBG,
          "DownloaderSubmodule: server response ERROR, WEB trec download failed with HTTP status "
          "%u for gameId '%llu'",
          static_cast<unsigned>(response.status), Id(gameId));
      text = "Downloader server response ERROR, WEB trec download failed with HTTP status " +
             std::to_string(response.status);
    } else {
      Log(LogLevel::Warn, kLogDBG,
          "DownloaderSubmodule: server response ERROR, WEB trec download failed with response "
          "code '%d' for game '%llu'",
          static_cast<int>(response.status), Id(gameId));
      text = "Downloader server response ERROR, WEB trec download failed with error: " +
             response.error;
    }
    metrics_.SendStep(MetricGroup::DownloadingReplay, MetricStep::TrecDownloadError, gameId, text);
    return {};
  }

  Log(LogLevel::Okay, kLogGEN,
      "DownloaderSubmodule: server response OK, WEB trec download for game '%llu'", Id(gameId));
  // A response that succeeded always reached the taker.
  if (!written) written = MakeFailureText(0, "the body was not handed over");
  if (!*written) {
    Log(LogLevel::Warn, kLogDBG,
        "DownloaderSubmodule: failed to write file '%s' for game '%llu: %s", path.c_str(),
        Id(gameId), written->failure().message.c_str());
    metrics_.SendStep(MetricGroup::DownloadingReplay, MetricStep::ProcessingAnomaly, gameId,
                      "DownloaderSubmodule: failed to write file " + path);
    return {};
  }
  metrics_.SendDownloadOk(gameId, bodySize);
  return path;
}

void DownloaderSubmodule::SetTrecPath(const std::string& path) {
  Log(LogLevel::Okay, kLogGEN, "DownloaderSubmodule: trec path set to '%s'", path.c_str());
  trecPath_ = path;
}

}  // namespace Zorv::Client::Replays
