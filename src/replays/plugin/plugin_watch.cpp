// The player's watch action: checks that the replay file is there and that no
// replay plays, then asks the game flow to launch the game client on it.
#include <filesystem>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include "logging/log.h"
#include "replays/plugin/replays_plugin.h"

namespace Zorv::Client::Replays {

namespace {

constexpr char kLaunchUrl[] = "/pex-gameflow/v1/watch/launch";
constexpr char kSettingsUrl[] = "/pex-settings/v1/local/pex-replays";
constexpr char kHighlightsArgument[] = "-HighlightsPath=";

unsigned long long LogId(uint64_t gameId) {
  return static_cast<unsigned long long>(gameId);
}

// Whether the path names something that can be opened as a file: it exists
// and is not a folder. A path that cannot be examined (too long, no access)
// counts as missing, and so does one with a zero byte inside, which the
// system would read as a shorter path naming some other file.
bool IsReplayFilePresent(const std::string& path) {
  if (path.find('\0') != std::string::npos) return false;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

// What the failing side said: the host's error text (the framework wraps it
// in "Error response for <method> <url>: ", which is never empty), or the
// whole message of a failure that carries no such detail.
std::string FailureReason(const Failure& failure) {
  const TemplateField* error = failure.detail("error_str");
  if (error) {
    if (const std::string* text = std::get_if<std::string>(&error->value)) return *text;
  }
  return failure.message;
}

}  // namespace

void ReplaysPlugin::Watch(uint64_t gameId, const Api::ReplayContextData& contextData) {
  const std::string id = std::to_string(gameId);
  Log(LogLevel::Okay, kLogGEN,
      "Plugin handling Replay '%llu' player action, WATCH, componentType=%s", LogId(gameId),
      contextData.componentType.c_str());
  metrics_->SendLaunchClick(gameId, contextData.componentType);

  const ReplayRecord* record = metadataStore_->FindRecord(gameId);
  const std::string path = record ? record->trecPath : std::string();
  if (path.empty()) {
    metrics_->SendStep(MetricGroup::LaunchingReplay, MetricStep::ProcessingAnomaly, gameId,
                       "Plugin encountered missing Replay (" + id + "), resetting its metadata");
    Log(LogLevel::Warn, kLogDBG, "Plugin encountered missing Replay '%llu', resetting its metadata",
        LogId(gameId));
    metadataStore_->ClearTrecPath(gameId);
    return;
  }
  if (!IsReplayFilePresent(path)) {
    metrics_->SendStep(MetricGroup::LaunchingReplay, MetricStep::ProcessingAnomaly, gameId,
                       "Plugin encountered missing Replay (" + id +
                           "), resetting its metadata and trecPath->" + path);
    Log(LogLevel::Warn, kLogDBG,
        "Plugin encountered missing Replay '%llu', resetting its metadata and trecPath->%s",
        LogId(gameId), path.c_str());
    metadataStore_->ClearTrecPath(gameId);
    return;
  }

  if (configuration_.isPlayingReplay) {
    std::string message =
        "Plugin attempted to play replay (" + id + ") while already playing replay (";
    if (watchingGameId_) {
      Log(LogLevel::Warn, kLogDBG,
          "Plugin attempted to play replay (%llu) while already playing replay (%llu)",
          LogId(gameId), LogId(*watchingGameId_));
      message += std::to_string(*watchingGameId_) + ")";
    } else {
      Log(LogLevel::Warn, kLogDBG,
          "Plugin attempted to play replay (%llu) while already playing replay (unknown)",
          LogId(gameId));
      message += "unknown)";
    }
    metrics_->SendStep(MetricGroup::LaunchingReplay, MetricStep::ProcessingAnomaly, gameId,
                       message);
    return;
  }

  watchingGameId_ = gameId;
  std::vector<std::string> arguments{path};
  // Without readable settings the replay still launches, only without highlights.
  MaybeType<Failure, Api::ReplaysSettingsResource> settings =
      Call<Api::ReplaysSettingsResource>(HOST_METHOD_GET, kSettingsUrl);
  if (settings && !settings.value().data.highlightsFolderPath.empty()) {
    // Joined, not formatted: a formatted text is cut at 4095 characters,
    // which would hand the game client some other folder.
    arguments.push_back(kHighlightsArgument + settings.value().data.highlightsFolderPath);
  }

  metrics_->SendStep(MetricGroup::LaunchingReplay, MetricStep::LaunchRequest, gameId);
  const MaybeType<Failure, void> launched = Call<void>(HOST_METHOD_POST, kLaunchUrl, arguments);
  if (launched) {
    metrics_->SendStep(MetricGroup::LaunchingReplay, MetricStep::LaunchOk, gameId);
    Log(LogLevel::Okay, kLogGEN, "Plugin successfully launched Replay '%llu'", LogId(gameId));
    return;
  }

  watchingGameId_.reset();
  const std::string reason = FailureReason(launched.failure());
  if (!reason.empty()) {
    metrics_->SendStep(MetricGroup::LaunchingReplay, MetricStep::LaunchError, gameId,
                       "Plugin could not launch Replay (" + id + "), reason: " + reason);
    return;
  }
  Log(LogLevel::Warn, kLogDBG, "Plugin could not launch Replay (%llu), reason: unknown",
      LogId(gameId));
  metrics_->SendStep(MetricGroup::LaunchingReplay, MetricStep::LaunchError, gameId,
                     "Failed with unknown reason");
  Log(LogLevel::Warn, kLogDBG, "Plugin could not launch Replay '%llu', reason: %s", LogId(gameId),
      reason.c_str());
}

}  // namespace Zorv::Client::Replays
