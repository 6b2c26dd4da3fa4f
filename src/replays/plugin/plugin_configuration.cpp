// How a change of the configuration is logged, applied to the submodules and
// published, and how the installed game version is refreshed.
#include <string>

#include "framework/events/observe.h"
#include "logging/log.h"
#include "replays/api/replays_text.h"
#include "replays/plugin/replays_plugin.h"

namespace Zorv::Client::Replays {

void ReplaysPlugin::UpdateConfiguration(const Api::ReplaysConfiguration& old) {
  if (old == configuration_) return;
  Log(LogLevel::Okay, kLogGEN, "Config change FROM: %s", ToText(old).c_str());
  Log(LogLevel::Okay, kLogGEN, "Config change TO  : %s", ToText(configuration_).c_str());
  ApplyConfigurationChange(old);
  if (!fileManager_->scannedOnce() && configuration_.isReplaysEnabled &&
      configuration_.isLoggedIn) {
    fileManager_->ScanAll();
  }
  // A value that does not convert is traced by the framework and not sent.
  static_cast<void>(
      PublishResource(kConfigurationEvent, configuration_, PluginResourceEventType::Update));
}

void ReplaysPlugin::ApplyConfigurationChange(const Api::ReplaysConfiguration& old) {
  // Patching has ended: the installed version may have changed. This may
  // update the configuration once more, nested; the steps below read the
  // live values afterwards.
  if (old.isPatching && !configuration_.isPatching) RefreshGameVersion();

  const Api::ReplaysConfiguration& now = configuration_;
  // A version read for the first time counts as a change too: records judged
  // while the version was unknown skipped the version test, and would keep a
  // watch verdict that the installed game cannot play.
  const bool versionChanged = !now.gameVersion.empty() && old.gameVersion != now.gameVersion;
  const bool minimumChanged = old.minServerVersion != now.minServerVersion;
  if (versionChanged || minimumChanged ||
      old.minutesUntilReplayConsideredLost != now.minutesUntilReplayConsideredLost) {
    // Logs the limit and re-evaluates every record's compatibility and deadline.
    metadataStore_->SetLostMinutes(now.minutesUntilReplayConsideredLost);
  }

  if (old.isPlayingReplay != configuration_.isPlayingReplay && watchingGameId_) {
    const uint64_t gameId = *watchingGameId_;
    if (configuration_.isPlayingReplay) {
      metrics_->SendStep(MetricGroup::WatchingReplay, MetricStep::GameLaunched, gameId);
    } else {
      metrics_->SendStep(MetricGroup::WatchingReplay, MetricStep::GameTerminated, gameId);
      watchingGameId_.reset();
    }
  }
}

void ReplaysPlugin::RefreshGameVersion() {
  gameVersionExtractor_ = std::make_unique<GameVersionExtractor>(*this);
  MaybeType<Failure, std::string> version = gameVersionExtractor_->GetInstalledGameVersion();
  if (!version) {
    Log(LogLevel::Warn, kLogDBG,
        "Plugin failed to get installed game version (will attempt to download/open any "
        "replay!): %s",
        version.failure().message.c_str());
    return;
  }
  const Api::ReplaysConfiguration old = configuration_;
  configuration_.gameVersion = std::move(version).value();
  UpdateConfiguration(old);
}

}  // namespace Zorv::Client::Replays
