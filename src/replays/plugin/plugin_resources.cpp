// The host resources that the configuration follows: the eight subscriptions
// and the rules by which each resource event changes the configuration.
#include <cmath>
#include <string_view>

#include "framework/events/observe.h"
#include "logging/log.h"
#include "replays/plugin/replays_plugin.h"

namespace Zorv::Client::Replays {

namespace {

constexpr double kDefaultLostMinutes = 30.0;

bool IsDelete(PluginResourceEventType kind) {
  return kind == PluginResourceEventType::Delete;
}
bool IsCreateOrUpdate(PluginResourceEventType kind) {
  return kind == PluginResourceEventType::Create || kind == PluginResourceEventType::Update;
}

// A member counts only when it holds the bool true: the text "true", a number
// or a missing member are all false.
bool MemberIsTrue(const BindingProperty& payload, std::string_view name) {
  const BindingProperty& member = payload.find(name);
  return member.kind() == ValueKind::Bool && member.asBool();
}

bool PhaseCountsAsPlaying(Api::GameflowPhase phase) {
  switch (phase) {
    case Api::GameflowPhase::None:
    case Api::GameflowPhase::Lobby:
    case Api::GameflowPhase::CheckedIntoTournament:
    case Api::GameflowPhase::EndOfGame:
      return false;
    default:
      return true;
  }
}

}  // namespace

void ReplaysPlugin::SubscribeConfigurationResources() {
  Observe<Api::ReplaysSettingsResource>(
      kSettingsResource,
      [this](const ResourceEvent<Api::ReplaysSettingsResource>& e) { OnSettingsChanged(e); });
  Observe<BindingProperty>(kLoginDataResource, [this](const ResourceEvent<BindingProperty>& e) {
    OnLoginDataPacket(e);
  });
  Observe<BindingProperty>(
      kReplaySystemStatesResource,
      [this](const ResourceEvent<BindingProperty>& e) { OnReplaySystemStates(e); });
  Observe<Api::ReplaysDynamicConfig>(
      kDynamicConfigResource,
      [this](const ResourceEvent<Api::ReplaysDynamicConfig>& e) { OnDynamicConfig(e); });
  Observe<Api::GameflowAvailability>(
      kAvailabilityResource,
      [this](const ResourceEvent<Api::GameflowAvailability>& e) { OnGameflowAvailability(e); });
  Observe<Api::GameflowSession>(
      kSessionResource,
      [this](const ResourceEvent<Api::GameflowSession>& e) { OnGameflowSession(e); });
  Observe<Api::GameflowWatchPhase>(
      kWatchPhaseResource,
      [this](const ResourceEvent<Api::GameflowWatchPhase>& e) { OnGameflowWatchPhase(e); });
  Observe<Api::SkirraPlaymodeRestrictedInfo>(
      kPlaymodeRestrictedResource,
      [this](const ResourceEvent<Api::SkirraPlaymodeRestrictedInfo>& e) {
        OnPlaymodeRestricted(e);
      });
}

void ReplaysPlugin::OnReplaySystemStates(const ResourceEvent<BindingProperty>& event) {
  const Api::ReplaysConfiguration old = configuration_;
  configuration_.isReplaysEnabled = MemberIsTrue(event.data, "replayServiceEnabled");
  configuration_.isReplaysForEndOfGameEnabled = MemberIsTrue(event.data, "endOfGameEnabled");
  configuration_.isReplaysForMatchHistoryEnabled = MemberIsTrue(event.data, "matchHistoryEnabled");
  UpdateConfiguration(old);
}

void ReplaysPlugin::OnDynamicConfig(const ResourceEvent<Api::ReplaysDynamicConfig>& event) {
  const Api::ReplaysConfiguration old = configuration_;
  if (IsCreateOrUpdate(event.eventType)) {
    double minutes = event.data.MinutesUntilReplayConsideredLost;
    // A limit that is not a number, negative or infinite would make every
    // replay lost at once (or never), and a NaN would never equal itself, so
    // every later event would count as a change. Such a value is refused.
    if (!std::isfinite(minutes) || minutes < 0.0) {
      Log(LogLevel::Warn, kLogDBG,
          "Plugin ignoring invalid MinutesUntilReplayConsideredLost %f, using %f minutes", minutes,
          kDefaultLostMinutes);
      minutes = kDefaultLostMinutes;
    }
    configuration_.minServerVersion = event.data.MinSupportedGameServerVersion;
    configuration_.minutesUntilReplayConsideredLost = minutes;
  } else if (IsDelete(event.eventType)) {
    configuration_.minServerVersion.clear();
    configuration_.minutesUntilReplayConsideredLost = kDefaultLostMinutes;
  }
  UpdateConfiguration(old);
}

void ReplaysPlugin::OnGameflowAvailability(const ResourceEvent<Api::GameflowAvailability>& event) {
  if (event.eventType != PluginResourceEventType::Update) return;
  const bool patching = event.data.state == "Patching";
  if (patching == configuration_.isPatching) return;
  const Api::ReplaysConfiguration old = configuration_;
  configuration_.isPatching = patching;
  UpdateConfiguration(old);
}

void ReplaysPlugin::OnGameflowSession(const ResourceEvent<Api::GameflowSession>& event) {
  if (event.eventType != PluginResourceEventType::Update) return;
  const bool playing = event.data.gameClient.running || PhaseCountsAsPlaying(event.data.phase);
  if (playing == configuration_.isPlayingGame) return;
  const Api::ReplaysConfiguration old = configuration_;
  configuration_.isPlayingGame = playing;
  UpdateConfiguration(old);
}

void ReplaysPlugin::OnGameflowWatchPhase(const ResourceEvent<Api::GameflowWatchPhase>& event) {
  if (event.eventType != PluginResourceEventType::Update) return;
  const bool playing = event.data == Api::GameflowWatchPhase::WatchInProgress;
  if (playing == configuration_.isPlayingReplay) return;
  const Api::ReplaysConfiguration old = configuration_;
  configuration_.isPlayingReplay = playing;
  UpdateConfiguration(old);
}

void ReplaysPlugin::OnPlaymodeRestricted(
    const ResourceEvent<Api::SkirraPlaymodeRestrictedInfo>& event) {
  const Api::ReplaysConfiguration old = configuration_;
  if (IsCreateOrUpdate(event.eventType)) {
    configuration_.isInTournament = event.data.isRestricted;
  } else if (IsDelete(event.eventType)) {
    configuration_.isInTournament = false;
  }
  UpdateConfiguration(old);
}

void ReplaysPlugin::OnLoginDataPacket(const ResourceEvent<BindingProperty>& event) {
  if (!IsCreateOrUpdate(event.eventType)) return;
  RefreshGameVersion();
  platformId_ = event.data.find("platformId").displayText();
  Log(LogLevel::Okay, kLogGEN, "LoginDataPacket event received. Updated platformId to '%s'",
      platformId_.c_str());
  downloader_ =
      DownloaderSubmodule::Create(*this, metadataStore_, platformId_, *metrics_, *fileManager_);
  downloader_->SetTrecPath(trecPath_);
  const Api::ReplaysConfiguration old = configuration_;
  configuration_.isLoggedIn = true;
  UpdateConfiguration(old);
}

void ReplaysPlugin::OnSettingsChanged(const ResourceEvent<Api::ReplaysSettingsResource>& event) {
  const std::string& given = event.data.data.replaysFolderPath;
  std::string wanted;
  switch (event.eventType) {
    case PluginResourceEventType::Create:
      wanted = given.empty() ? ProcessDefaultTrecPath() : given;
      break;
    case PluginResourceEventType::Update:
      // An emptied setting keeps the folder in use.
      if (given.empty()) return;
      wanted = given;
      break;
    case PluginResourceEventType::Delete:
      wanted = ProcessDefaultTrecPath();
      break;
    default:
      break;
  }
  if (wanted != trecPath_) SetTrecPath(wanted);
}

}  // namespace Zorv::Client::Replays
