// The server lookup of one game's replay metadata, which the MetadataStore's
// fetch job runs.
#include <string>

#include "logging/log.h"
#include "replays/api/replays_text.h"
#include "replays/plugin/replays_plugin.h"

namespace Zorv::Client::Replays {

FetchResult ReplaysPlugin::FetchRemoteMetadata(uint64_t gameId) {
  const auto logId = static_cast<unsigned long long>(gameId);
  LCDS::MultipleReplayMetadataRequestV2 request;
  request.platformId = platformId_;
  request.gameIds = {gameId};
  metrics_->SendStep(MetricGroup::DownloadingReplay, MetricStep::MetadataRequest, gameId);
  Log(LogLevel::Okay, kLogGEN, "Plugin server request, LCDS retrieve metadata for game '%llu'",
      logId);

  MaybeType<Failure, LCDS::MultipleReplayMetadataResponseV2> answer =
      CallServiceProxySync<LCDS::MultipleReplayMetadataRequestV2,
                           LCDS::MultipleReplayMetadataResponseV2>("replays.retrieval",
                                                                   "getMultipleMetadata", request);
  if (!answer) {
    const Failure& failure = answer.failure();
    Log(LogLevel::Warn, kLogDBG,
        "Plugin server response ERROR, LCDS retrieve metadata for game '%llu': code=%d", logId,
        failure.code);
    metrics_->SendStep(MetricGroup::DownloadingReplay, MetricStep::MetadataResponseError, gameId,
                       failure.message);
    return failure;
  }
  if (answer.value().metadataResponses.empty()) {
    Log(LogLevel::Warn, kLogDBG,
        "Plugin server response OK, LCDS retrieve metadata for game '%llu': empty response", logId);
    metrics_->SendStep(MetricGroup::DownloadingReplay, MetricStep::MetadataResponseOk, gameId,
                       "Failed with empty response");
    return MakeFailureText(0, "empty response");
  }
  LCDS::MultipleReplayMetadataResponseItemV2 item =
      std::move(answer.value().metadataResponses.front());
  const std::string status = ToText(item.status);
  Log(LogLevel::Okay, kLogGEN,
      "Plugin server response OK, LCDS retrieve metadata for game '%llu': response=%s", logId,
      status.c_str());
  metrics_->SendStep(MetricGroup::DownloadingReplay, MetricStep::MetadataResponseOk, gameId,
                     status);
  return item;
}

}  // namespace Zorv::Client::Replays
