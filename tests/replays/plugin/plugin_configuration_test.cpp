// The configuration on the plug-in object: how each resource event changes
// it (through the module's event callback, as the host delivers), what a
// change logs and publishes, and what it sets off: the store's lost limit and
// verdicts, the watching metrics, the downloader and the version refresh.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "logging/logger_api.h"
#include "pe/pe_writer.h"
#include "platform/file_system.h"
#include "plugin_harness.h"
#include "replays/api/replays_text.h"
#include "support/capture_log_target.h"
#include "support/temp_folder.h"

namespace Zorv::Client::Replays {
namespace {

using Testing::HarnessPlugin;
using Kind = PluginResourceEventType;

constexpr Kind kCreate = Kind::Create;
constexpr Kind kUpdate = Kind::Update;
constexpr Kind kDelete = Kind::Delete;

// The documents folder of this process: the default replay folder is read
// once, so it is pointed at a temporary folder before any test runs.
class DocumentsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    folder_ = std::make_unique<Zorv::Testing::TempFolder>("documents");
    ::setenv("XDG_DOCUMENTS_DIR", folder_->path().c_str(), 1);
  }
  void TearDown() override { folder_.reset(); }

 private:
  std::unique_ptr<Zorv::Testing::TempFolder> folder_;
};
[[maybe_unused]] ::testing::Environment* const kDocuments =
    ::testing::AddGlobalTestEnvironment(new DocumentsEnvironment);

BindingProperty Json(std::string_view text) {
  BindingResult parsed = FromJsonText(text);
  EXPECT_TRUE(parsed.success) << text;
  return std::move(parsed.value);
}

class PluginConfigurationTest : public ::testing::Test {
 protected:
  PluginConfigurationTest() {
    api->acquire();
    api->setLevel(0);
    api->setSuppressedCategories(0, 0);
    capture.attach();
  }
  ~PluginConfigurationTest() override { api->release(); }

  bool Logged(std::string_view part) const {
    for (const std::string& message : capture.messages()) {
      if (message.find(part) != std::string::npos) return true;
    }
    return false;
  }
  size_t CountLogged(std::string_view part) const {
    size_t count = 0;
    for (const std::string& message : capture.messages()) {
      if (message.find(part) != std::string::npos) ++count;
    }
    return count;
  }
  std::vector<std::string> EventsNamed(std::string_view name) const {
    std::vector<std::string> events;
    for (const HarnessPlugin::Event& event : plugin.events) {
      if (event.name == name) {
        events.push_back(std::to_string(event.eventType) + " " + ToJsonText(event.payload));
      }
    }
    return events;
  }
  // Answers the patcher resource with `folder` as the game client's folder.
  void AnswerPatcher(const std::string& folder) {
    plugin.answerCall = [folder](CallResult* result, const CallRecord* call) {
      if (std::string_view(call->url) != kPatcherPathsResource) {
        Zorv::Testing::FakeHostModule::AnswerError(result, "no such resource", 404);
        return;
      }
      BindingProperty paths;
      paths.field(kGameClientFolderKey) = folder;
      Zorv::Testing::FakeHostModule::AnswerValue(result, paths);
    };
  }

  const LoggerApi* api = GetLoggerApi();
  Zorv::Testing::CaptureLogTarget capture;
  HarnessPlugin plugin;
};

TEST_F(PluginConfigurationTest, StartFollowsTheEightResourcesInOrder) {
  EXPECT_EQ(plugin.subscribed,
            (std::vector<std::string>{
                "OnJsonApiEvent_pex-settings_v1_local",
                "OnJsonApiEvent_pex-login_v1_login-data-packet",
                "OnJsonApiEvent_pex-platform-config_v1_namespaces_ClientSystemStates_"
                "replaySystemStates",
                "OnJsonApiEvent_pex-platform-config_v1_namespaces_Replays",
                "OnJsonApiEvent_pex-gameflow_v1_availability",
                "OnJsonApiEvent_pex-gameflow_v1_session",
                "OnJsonApiEvent_pex-gameflow_v1_watch",
                "OnJsonApiEvent_pex-skirra_v2_playmode-restricted",
            }));
  // Each current value was asked for once; none answered, so nothing changed.
  EXPECT_EQ(plugin.calls.size(), 8u);
  EXPECT_EQ(plugin.configuration(), Api::ReplaysConfiguration{});
}

TEST_F(PluginConfigurationTest, EachResourceEventChangesOnlyWhatItsRuleSays) {
  using Config = Api::ReplaysConfiguration;
  BindingProperty nanMinutes;
  nanMinutes.field("MinSupportedGameServerVersion") = "10.5.1.1";
  nanMinutes.field("MinutesUntilReplayConsideredLost") = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    std::function<void(Config&)> before;  // the configuration before the event
    const char* resource;
    Kind kind;
    BindingProperty data;
    std::function<void(Config&)> after;  // what the event changes
  };
  const auto none = [](Config&) {};
  const Case cases[] = {
      // Game flow: only Update counts, and only a change of the flag.
      {"availability Create", none, kAvailabilityResource, kCreate, Json(R"({"state":"Patching"})"),
       none},
      {"availability Update", none, kAvailabilityResource, kUpdate, Json(R"({"state":"Patching"})"),
       [](Config& c) { c.isPatching = true; }},
      {"availability Patching again", [](Config& c) { c.isPatching = true; }, kAvailabilityResource,
       kUpdate, Json(R"({"state":"Patching"})"), none},
      {"availability lower case", none, kAvailabilityResource, kUpdate,
       Json(R"({"state":"patching"})"), none},
      {"availability longer text", none, kAvailabilityResource, kUpdate,
       Json(R"({"state":"Patching "})"), none},
      {"availability ends patching", [](Config& c) { c.isPatching = true; }, kAvailabilityResource,
       kUpdate, Json(R"({"state":"Available"})"), [](Config& c) { c.isPatching = false; }},
      {"availability Delete", [](Config& c) { c.isPatching = true; }, kAvailabilityResource,
       kDelete, BindingProperty(), none},
      {"session Create", none, kSessionResource, kCreate, Json(R"({"phase":"InProgress"})"), none},
      {"session character select", none, kSessionResource, kUpdate,
       Json(R"({"phase":"CharacterSelect","gameClient":{"running":false}})"),
       [](Config& c) { c.isPlayingGame = true; }},
      {"session end of game, client running", none, kSessionResource, kUpdate,
       Json(R"({"phase":"EndOfGame","gameClient":{"running":true}})"),
       [](Config& c) { c.isPlayingGame = true; }},
      {"session back in lobby", [](Config& c) { c.isPlayingGame = true; }, kSessionResource,
       kUpdate, Json(R"({"phase":"Lobby","gameClient":{"running":false}})"),
       [](Config& c) { c.isPlayingGame = false; }},
      {"session unknown phase", none, kSessionResource, kUpdate, Json(R"({"phase":"Dancing"})"),
       none},
      {"watch Create", none, kWatchPhaseResource, kCreate, Json(R"("WatchInProgress")"), none},
      {"watch Update", none, kWatchPhaseResource, kUpdate, Json(R"("WatchInProgress")"),
       [](Config& c) { c.isPlayingReplay = true; }},
      {"watch started is not playing", none, kWatchPhaseResource, kUpdate,
       Json(R"("WatchStarted")"), none},
      // System states: only a bool true counts, and every kind is acted on.
      {"system states", none, kReplaySystemStatesResource, kCreate,
       Json(R"({"replayServiceEnabled":true,"endOfGameEnabled":"true","matchHistoryEnabled":1})"),
       [](Config& c) { c.isReplaysEnabled = true; }},
      {"system states Delete",
       [](Config& c) {
         c.isReplaysEnabled = c.isReplaysForEndOfGameEnabled = true;
         c.isReplaysForMatchHistoryEnabled = true;
       },
       kReplaySystemStatesResource, kDelete, BindingProperty(),
       [](Config& c) {
         c.isReplaysEnabled = c.isReplaysForEndOfGameEnabled = false;
         c.isReplaysForMatchHistoryEnabled = false;
       }},
      {"system states not an object", [](Config& c) { c.isReplaysEnabled = true; },
       kReplaySystemStatesResource, kUpdate, Json("[true]"),
       [](Config& c) { c.isReplaysEnabled = false; }},
      // Platform configuration: exact keys; Delete restores the defaults.
      {"dynamic config", none, kDynamicConfigResource, kUpdate,
       Json(R"({"MinSupportedGameServerVersion":"10.5.1.1",)"
            R"("MinutesUntilReplayConsideredLost":45.5})"),
       [](Config& c) {
         c.minServerVersion = "10.5.1.1";
         c.minutesUntilReplayConsideredLost = 45.5;
       }},
      {"dynamic config small first letters", none, kDynamicConfigResource, kUpdate,
       Json(R"({"minSupportedGameServerVersion":"10.5.1.1",)"
            R"("minutesUntilReplayConsideredLost":45.5})"),
       none},
      {"dynamic config Delete",
       [](Config& c) {
         c.minServerVersion = "10.5.1.1";
         c.minutesUntilReplayConsideredLost = 5;
       },
       kDynamicConfigResource, kDelete, BindingProperty(),
       [](Config& c) {
         c.minServerVersion = "";
         c.minutesUntilReplayConsideredLost = 30;
       }},
      {"dynamic config negative minutes", none, kDynamicConfigResource, kUpdate,
       Json(
           R"({"MinSupportedGameServerVersion":"10.5.1.1","MinutesUntilReplayConsideredLost":-5})"),
       [](Config& c) { c.minServerVersion = "10.5.1.1"; }},
      {"dynamic config NaN minutes", [](Config& c) { c.minutesUntilReplayConsideredLost = 12; },
       kDynamicConfigResource, kUpdate, nanMinutes,
       [](Config& c) {
         c.minServerVersion = "10.5.1.1";
         c.minutesUntilReplayConsideredLost = 30;
       }},
      // Play-mode restriction.
      {"restricted", none, kPlaymodeRestrictedResource, kCreate, Json(R"({"isRestricted":true})"),
       [](Config& c) { c.isInTournament = true; }},
      {"restriction Delete", [](Config& c) { c.isInTournament = true; },
       kPlaymodeRestrictedResource, kDelete, BindingProperty(),
       [](Config& c) { c.isInTournament = false; }},
      {"restriction of the wrong kind", [](Config& c) { c.isInTournament = true; },
       kPlaymodeRestrictedResource, kUpdate, Json(R"({"isRestricted":"no"})"), none},
      // Login data: Delete is ignored.
      {"login Delete", none, kLoginDataResource, kDelete, BindingProperty(), none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HarnessPlugin fresh;
    Config& live = fresh.mutableConfiguration();
    c.before(live);
    Config expected = live;
    c.after(expected);
    const size_t logsBefore = capture.messages().size();

    ASSERT_TRUE(fresh.Deliver(c.resource, c.kind, c.data));

    EXPECT_EQ(ToText(fresh.configuration()), ToText(expected));
    Config start;
    c.before(start);
    const bool changed = !(start == expected);
    size_t changeLines = 0;
    const std::vector<std::string> messages = capture.messages();
    for (size_t i = logsBefore; i < messages.size(); ++i) {
      if (messages[i].rfind("Config change ", 0) == 0) ++changeLines;
    }
    EXPECT_EQ(changeLines, changed ? 2u : 0u);
    size_t published = 0;
    for (const HarnessPlugin::Event& event : fresh.events) {
      if (event.name == kConfigurationEvent) ++published;
    }
    EXPECT_EQ(published, changed ? 1u : 0u);
  }
}

TEST_F(PluginConfigurationTest, WatchPhaseSendsWatchingStepsOnlyForTheLaunchedReplay) {
  struct Case {
    const char* name;
    std::optional<uint64_t> watching;
    std::vector<const char*> phases;
    std::vector<std::string> steps;
    std::optional<uint64_t> watchingAfter;
  };
  const Case cases[] = {
      {"launched then ended",
       77,
       {"WatchStarted", "WatchInProgress", "None"},
       {"game-launched 77", "game-terminated 77"},
       std::nullopt},
      {"still playing", 77, {"WatchInProgress"}, {"game-launched 77"}, 77},
      {"not launched here", std::nullopt, {"WatchInProgress", "None"}, {}, std::nullopt},
      {"a second end sends nothing",
       77,
       {"WatchInProgress", "None", "WatchInProgress", "None"},
       {"game-launched 77", "game-terminated 77"},
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HarnessPlugin fresh;
    fresh.SetWatchingGameId(c.watching);
    for (const char* phase : c.phases) {
      ASSERT_TRUE(fresh.Deliver(kWatchPhaseResource, kUpdate, BindingProperty(phase)));
    }
    std::vector<std::string> steps;
    for (const HarnessPlugin::Telemetry& event : fresh.telemetry) {
      EXPECT_EQ(event.name, "tnk-be-pex-replays.watchingReplay");
      steps.push_back(std::string(event.fields.find("step").asString()) + " " +
                      event.fields.find("gameId").displayText());
    }
    EXPECT_EQ(steps, c.steps);
    EXPECT_EQ(fresh.watchingGameId(), c.watchingAfter);
  }
}

TEST_F(PluginConfigurationTest, ChangedLimitsReevaluateEveryRecord) {
  // A replay of 10.5 on disk, judged against a server minimum of 10.6.
  plugin.mutableConfiguration().minServerVersion = "10.6.0.0";
  plugin.metadataStore()->SetTrecPathForGame(5, "/r/NA1-5.trec", "10.5.1.2");
  ASSERT_EQ(plugin.metadataStore()->FindRecord(5)->metadata.state,
            Api::MetadataState::incompatible);
  plugin.events.clear();

  // Deleting the namespace drops the minimum and restores 30 minutes.
  ASSERT_TRUE(plugin.Deliver(kDynamicConfigResource, kDelete, BindingProperty()));

  EXPECT_EQ(plugin.metadataStore()->FindRecord(5)->metadata.state, Api::MetadataState::watch);
  EXPECT_TRUE(Logged("MetadataStore: Replays will be considered lost after 30.000000 minutes"));
  EXPECT_EQ(EventsNamed("/pex-replays/v1/metadata/5"),
            (std::vector<std::string>{R"(1 {"downloadProgress":0,"gameId":5,"state":"watch"})"}));
  EXPECT_EQ(EventsNamed(kConfigurationEvent).size(), 1u);

  // A change that touches neither version, minimum nor limit leaves the store alone.
  const size_t limitLines = CountLogged("will be considered lost");
  ASSERT_TRUE(
      plugin.Deliver(kPlaymodeRestrictedResource, kUpdate, Json(R"({"isRestricted":true})")));
  EXPECT_EQ(CountLogged("will be considered lost"), limitLines);
}

TEST_F(PluginConfigurationTest, InvalidLostMinutesAreRefusedWithAWarning) {
  ASSERT_TRUE(plugin.Deliver(
      kDynamicConfigResource, kUpdate,
      Json(R"({"MinSupportedGameServerVersion":"","MinutesUntilReplayConsideredLost":-1})")));
  EXPECT_EQ(plugin.configuration().minutesUntilReplayConsideredLost, 30.0);
  EXPECT_EQ(plugin.metadataStore()->lostMinutes(), 30.0);
  EXPECT_TRUE(Logged("Plugin ignoring invalid MinutesUntilReplayConsideredLost -1.000000"));
  // Nothing changed, so nothing is logged as a change or published.
  EXPECT_FALSE(Logged("Config change"));
  EXPECT_TRUE(EventsNamed(kConfigurationEvent).empty());
}

TEST_F(PluginConfigurationTest, LoginDataMakesANewDownloaderEachTime) {
  Zorv::Testing::TempFolder replays("replays");
  ASSERT_TRUE(
      plugin.Deliver(kSettingsResource, kUpdate,
                     Json(R"({"data":{"replays-folder-path":")" + replays.path() + R"("}})")));
  ASSERT_EQ(plugin.downloader(), nullptr);

  ASSERT_TRUE(plugin.Deliver(kLoginDataResource, kCreate, Json(R"({"platformId":"NA1"})")));
  DownloaderSubmodule* first = plugin.downloader();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->platformId(), "NA1");
  EXPECT_EQ(first->trecPath(), replays.path());
  EXPECT_TRUE(plugin.configuration().isLoggedIn);
  EXPECT_TRUE(Logged("LoginDataPacket event received. Updated platformId to 'NA1'"));
  // No patcher answers: the version refresh fails and says so.
  EXPECT_TRUE(
      Logged("Plugin failed to get installed game version (will attempt to "
             "download/open any replay!): "));

  // Without a platform id: a new downloader all the same, with an empty id.
  ASSERT_TRUE(plugin.Deliver(kLoginDataResource, kUpdate, Json(R"({"summonerId":1})")));
  ASSERT_NE(plugin.downloader(), nullptr);
  EXPECT_EQ(plugin.downloader()->platformId(), "");
  EXPECT_EQ(plugin.platformId(), "");
  EXPECT_TRUE(plugin.configuration().isLoggedIn);
  EXPECT_EQ(CountLogged("DownloaderSubmodule: instantiated with platform id"), 2u);
}

TEST_F(PluginConfigurationTest, OnlyAServerLookupFindingTheReplayQueuesADownload) {
  Api::ReplayMetadata found{Api::MetadataState::found, 8, 0};
  // Before login there is no downloader: the request is dropped.
  plugin.OnMetadataChanged(found, true);
  ASSERT_TRUE(plugin.Deliver(kLoginDataResource, kCreate, Json(R"({"platformId":"NA1"})")));
  plugin.OnMetadataChanged(found, false);
  plugin.OnMetadataChanged(Api::ReplayMetadata{Api::MetadataState::checking, 9, 0}, true);
  EXPECT_TRUE(plugin.downloader()->downloadQueue().empty());

  plugin.OnMetadataChanged(found, true);
  EXPECT_EQ(plugin.downloader()->downloadQueue(), (std::deque<uint64_t>{8}));
}

TEST_F(PluginConfigurationTest, ScanReadsTheInstalledVersionOnlyWhenNoneIsKnown) {
  const auto patcherCalls = [&] {
    return std::count(plugin.calls.begin(), plugin.calls.end(), kPatcherPathsResource);
  };
  plugin.Scan();
  EXPECT_EQ(patcherCalls(), 1);
  EXPECT_TRUE(plugin.fileManager()->scannedOnce());

  plugin.mutableConfiguration().gameVersion = "10.5.1.2";
  plugin.Scan();
  EXPECT_EQ(patcherCalls(), 1);
}

TEST_F(PluginConfigurationTest, SettingsPickTheFolderByEventKind) {
  Zorv::Testing::TempFolder replays("replays");
  const std::string chosen = replays.path() + "/chosen";
  const std::string defaultFolder = ProcessDefaultTrecPath();
  ASSERT_FALSE(defaultFolder.empty());
  struct Step {
    const char* name;
    Kind kind;
    std::string folder;  // "replays-folder-path"
    std::string expected;
    size_t pathEvents;  // "/pex-replays/v1/trecs/path" events so far
  };
  const Step steps[] = {
      {"Create without a folder: the default", kCreate, "", defaultFolder, 1},
      {"Update to a folder", kUpdate, chosen, chosen, 2},
      {"Update to the same folder: nothing", kUpdate, chosen, chosen, 2},
      {"Update with an empty folder keeps it", kUpdate, "", chosen, 2},
      {"Delete: the default", kDelete, "", defaultFolder, 3},
      {"Create with a folder", kCreate, chosen, chosen, 4},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    BindingProperty data;
    data.field("data").field("replays-folder-path") = step.folder;
    ASSERT_TRUE(plugin.Deliver(kSettingsResource, step.kind, data));
    EXPECT_EQ(plugin.GetTrecPath(), step.expected);
    EXPECT_EQ(plugin.fileManager()->folder(), step.expected);
    EXPECT_EQ(EventsNamed(kTrecPathEvent).size(), step.pathEvents);
  }
  EXPECT_EQ(EventsNamed(kTrecPathEvent).back(), "1 \"" + chosen + "\"");
  EXPECT_TRUE(Platform::IsDirectory(chosen));
  EXPECT_TRUE(Logged("FileManager: trec path set to '" + chosen + "'"));
}

TEST_F(PluginConfigurationTest, TheFirstInstalledVersionReadJudgesRecordsScannedBeforeIt) {
  // Scanned while the installed version was unknown: no version test yet.
  plugin.metadataStore()->SetTrecPathForGame(4, "/r/NA1-4.trec", "10.4.9.9");
  plugin.metadataStore()->SetTrecPathForGame(5, "/r/NA1-5.trec", "10.5.1.2");
  ASSERT_EQ(plugin.metadataStore()->FindRecord(4)->metadata.state, Api::MetadataState::watch);

  Zorv::Testing::TempFolder game("game");
  Zorv::Testing::PeOptions exe;
  exe.fileVersion = {10, 5, 3, 7};
  ASSERT_TRUE(Zorv::Testing::WritePeFile(game.path() + "/Vellmoor.exe", exe));
  AnswerPatcher(game.path());
  ASSERT_TRUE(plugin.Deliver(kLoginDataResource, kCreate, Json(R"({"platformId":"NA1"})")));

  EXPECT_EQ(plugin.configuration().gameVersion, "10.5.3.7");
  EXPECT_EQ(plugin.metadataStore()->FindRecord(4)->metadata.state,
            Api::MetadataState::incompatible);
  EXPECT_EQ(plugin.metadataStore()->FindRecord(5)->metadata.state, Api::MetadataState::watch);
}

}  // namespace
}  // namespace Zorv::Client::Replays
