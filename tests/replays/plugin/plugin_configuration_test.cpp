// The configuration on the plug-in object: how each resource event changes
// it (through the module's event callback, as the host delivers), what a
// change logs and publishes, and what it sets off: the store's lost limit and
// verdicts, the watching metrics, the downloader and the version refresh.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "logging/logger_api.h"
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
  std::vector<std::string> WatchingSteps() const {
    std::vector<std::string> steps;
    for (const HarnessPlugin::Telemetry& event : plugin.telemetry) {
      if (event.name != "tnk-be-pex-replays.watchingReplay") continue;
      steps.push_back(std::string(event.fields.find("step").asString()) + " " +
                      event.fields.find("gameId").displayText());
    }
    return steps;
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
      {"availability Patching again", [](Config& c) { c.isPatching = true; },
       kAvailabilityResource, kUpdate, Json(R"({"state":"Patching"})"), none},
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
       Json(R"({"MinSupportedGameServerVersion":"10.5.1.1","MinutesUntilReplayConsideredLost":-5})"),
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

}  // namespace
}  // namespace Zorv::Client::Replays
