// The replays configuration through the real library: the host resources it
// follows from start-up on, the installed version read after patching, the
// verdicts that follow it, the change of replay folder and what it
// republishes, the watch phase, and resources with bad values.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "binding/json_writer.h"
#include "host/plugin_host.h"
#include "pe/pe_writer.h"
#include "replays/store/default_trec_path.h"
#include "support/temp_folder.h"
#include "trec/trec_writer.h"

namespace Zorv::Host {
namespace {

using Zorv::Testing::TempFolder;

constexpr char kSettings[] = "/pex-settings/v1/local/pex-replays";
constexpr char kLogin[] = "/pex-login/v1/login-data-packet";
constexpr char kSystemStates[] =
    "/pex-platform-config/v1/namespaces/ClientSystemStates/replaySystemStates";
constexpr char kReplaysNamespace[] = "/pex-platform-config/v1/namespaces/Replays";
constexpr char kAvailability[] = "/pex-gameflow/v1/availability";
constexpr char kSession[] = "/pex-gameflow/v1/session";
constexpr char kWatch[] = "/pex-gameflow/v1/watch";
constexpr char kPlaymode[] = "/pex-skirra/v2/playmode-restricted";
constexpr char kPatcher[] = "/patcher/v1/products/vellmoor/paths";
constexpr char kConfiguration[] = "/pex-replays/v1/configuration";
constexpr char kTrecPath[] = "/pex-replays/v1/trecs/path";
constexpr char kMetadataPrefix[] = "/pex-replays/v1/metadata/";

// The default replay folder is read once per process; it is pointed at a
// temporary documents folder before any test runs, so that no test creates
// folders in the real one.
class DocumentsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    folder_ = std::make_unique<TempFolder>("documents");
    ::setenv("XDG_DOCUMENTS_DIR", folder_->path().c_str(), 1);
  }
  void TearDown() override { folder_.reset(); }

 private:
  std::unique_ptr<TempFolder> folder_;
};
[[maybe_unused]] ::testing::Environment* const kDocuments =
    ::testing::AddGlobalTestEnvironment(new DocumentsEnvironment);

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

class ReplaysConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTrec(replays.path() + "/NA1-101.trec", "10.5.1.2");
    WriteTrec(replays.path() + "/NA1-102.trec", "10.4.1.1");
    InstallGame({10, 5, 3, 7});
    host.SetResource(kPatcher, R"({"pex_game_client_sln":)" + Quoted(game.path()) + "}");
  }

  static void WriteTrec(const std::string& path, const std::string& version) {
    Client::Replays::TrecImage image;
    image.metadata = Client::Replays::MetadataJson({1800000, version, 30, 15});
    image.bodySize = 512;
    std::string error;
    ASSERT_TRUE(Client::Replays::WriteTrecFile(path, image, &error)) << error;
  }
  void InstallGame(std::array<uint16_t, 4> version) {
    Zorv::Testing::PeOptions options;
    options.fileVersion = version;
    ASSERT_TRUE(Zorv::Testing::WritePeFile(game.path() + "/Vellmoor.exe", options));
  }
  // Every resource of a logged-in user with replays enabled, and the folder.
  void SetLoggedInResources(const std::string& folder) {
    host.SetResource(kSettings, R"({"data":{"replays-folder-path":)" + Quoted(folder) +
                                    R"(,"highlights-folder-path":""}})");
    host.SetResource(kLogin, R"({"platformId":"NA1","accountId":7})");
    host.SetResource(kSystemStates, R"({"replayServiceEnabled":true,"endOfGameEnabled":true,)"
                                    R"("matchHistoryEnabled":false})");
    host.SetResource(
        kReplaysNamespace,
        R"({"MinSupportedGameServerVersion":"","MinutesUntilReplayConsideredLost":60})");
    host.SetResource(kAvailability, R"({"state":"Patching"})");
    host.SetResource(kSession, R"({"phase":"InProgress","gameClient":{"running":true}})");
    host.SetResource(kWatch, R"("WatchInProgress")");
    host.SetResource(kPlaymode, R"({"isRestricted":false})");
  }
  void Start() {
    ASSERT_EQ(host.Load(PEX_REPLAYS_PATH), "");
    ASSERT_TRUE(host.Initialize());
  }

  BindingProperty Configuration() {
    const EndpointAnswer answer = host.CallModule(HOST_METHOD_GET, kConfiguration);
    EXPECT_TRUE(answer.ok) << answer.error;
    return answer.value;
  }
  std::string StateOf(uint64_t gameId) {
    const EndpointAnswer answer =
        host.CallModule(HOST_METHOD_GET, kMetadataPrefix + std::to_string(gameId));
    return answer.ok ? std::string(answer.value.find("state").asString())
                     : std::to_string(answer.status);
  }
  std::string TrecPath() { return ToJsonText(host.CallModule(HOST_METHOD_GET, kTrecPath).value); }
  // "name payload" of the metadata and folder events since `from`, in order.
  std::vector<std::string> ReplayEvents(size_t from = 0) const {
    std::vector<std::string> events;
    for (size_t i = from; i < host.Events().size(); ++i) {
      const PublishedEvent& event = host.Events()[i];
      const bool metadata = event.name.rfind(kMetadataPrefix, 0) == 0;
      if (!metadata && event.name != kTrecPath) continue;
      events.push_back((metadata ? event.name.substr(sizeof kMetadataPrefix - 1) + " " +
                                       std::string(event.payload.find("state").asString())
                                 : event.name + " " + ToJsonText(event.payload)));
    }
    return events;
  }
  size_t CountMessages(std::string_view part) const {
    return static_cast<size_t>(std::count_if(
        host.Logs().begin(), host.Logs().end(),
        [&](const LogEntry& entry) { return entry.message.find(part) != std::string::npos; }));
  }
  size_t ConfigurationEvents() const {
    return static_cast<size_t>(
        std::count_if(host.Events().begin(), host.Events().end(),
                      [](const PublishedEvent& event) { return event.name == kConfiguration; }));
  }

  TempFolder replays{"replays"};
  TempFolder game{"game"};
  PluginHost host;
};

TEST_F(ReplaysConfigurationTest, StartUpAppliesTheResourcesAndScansTheFolderOnce) {
  SetLoggedInResources(replays.path());
  Start();

  // Availability, session and watch phase read at start-up are ignored.
  EXPECT_EQ(ToJsonText(Configuration()),
            R"({"gameVersion":"10.5.3.7","isInTournament":false,"isLoggedIn":true,)"
            R"("isPatching":false,"isPlayingGame":false,"isPlayingReplay":false,)"
            R"("isReplaysEnabled":true,"isReplaysForEndOfGameEnabled":true,)"
            R"("isReplaysForMatchHistoryEnabled":false,"minServerVersion":"",)"
            R"("minutesUntilReplayConsideredLost":60.0})");
  EXPECT_EQ(TrecPath(), Quoted(replays.path()));
  EXPECT_EQ(StateOf(101), "watch");
  EXPECT_EQ(StateOf(102), "incompatible");
  EXPECT_EQ(CountMessages("FileManager: scanning for trec files"), 1u);
  EXPECT_EQ(CountMessages("DownloaderSubmodule: instantiated with platform id 'NA1'"), 1u);
  EXPECT_TRUE(host.Faults().empty());

  // The path event came once, with the folder as a JSON string.
  std::vector<std::string> pathEvents;
  for (const std::string& event : ReplayEvents()) {
    if (event.rfind(kTrecPath, 0) == 0) pathEvents.push_back(event);
  }
  EXPECT_EQ(pathEvents,
            (std::vector<std::string>{std::string(kTrecPath) + " " + Quoted(replays.path())}));
}

TEST_F(ReplaysConfigurationTest, BeforeLoginTheDefaultsHoldAndTheFirstScanWaitsForIt) {
  // No settings resource: no folder, so the scan shows only in its log line.
  host.SetResource(kSystemStates, R"({"replayServiceEnabled":true})");
  Start();
  EXPECT_FALSE(Configuration().find("isLoggedIn").asBool());
  EXPECT_TRUE(Configuration().find("isReplaysEnabled").asBool());
  EXPECT_EQ(CountMessages("FileManager: scanning for trec files"), 0u);
  EXPECT_EQ(TrecPath(), R"("")");
  EXPECT_EQ(
      ToJsonText(host.CallModule(HOST_METHOD_GET, "/pex-replays/v1/trecs/path/default").value),
      Quoted(Client::Replays::DefaultTrecPath()));

  host.SetResource(kLogin, R"({"platformId":"NA1"})");
  EXPECT_TRUE(Configuration().find("isLoggedIn").asBool());
  EXPECT_EQ(CountMessages("FileManager: scanning for trec files"), 1u);

  // Later changes do not scan again.
  host.SetResource(kPlaymode, R"({"isRestricted":true})");
  host.SetResource(kSystemStates, R"({"replayServiceEnabled":false})");
  host.SetResource(kSystemStates, R"({"replayServiceEnabled":true})");
  EXPECT_EQ(CountMessages("FileManager: scanning for trec files"), 1u);
  EXPECT_TRUE(host.Faults().empty());
}

TEST_F(ReplaysConfigurationTest, TheEndOfPatchingReadsTheNewVersionAndFlipsTheVerdicts) {
  SetLoggedInResources(replays.path());
  Start();
  ASSERT_EQ(StateOf(101), "watch");
  ASSERT_EQ(StateOf(102), "incompatible");

  host.SetResource(kAvailability, R"({"state":"Patching"})");
  EXPECT_TRUE(Configuration().find("isPatching").asBool());
  InstallGame({10, 4, 8, 8});
  const size_t from = host.Events().size();
  host.SetResource(kAvailability, R"({"state":"Available"})");

  const BindingProperty configuration = Configuration();
  EXPECT_FALSE(configuration.find("isPatching").asBool());
  EXPECT_EQ(configuration.find("gameVersion").asString(), "10.4.8.8");
  EXPECT_EQ(StateOf(101), "incompatible");
  EXPECT_EQ(StateOf(102), "watch");
  std::vector<std::string> events = ReplayEvents(from);
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events, (std::vector<std::string>{"101 incompatible", "102 watch"}));
  // The outer change and the nested version change were both published.
  EXPECT_EQ(CountMessages("Config change TO  : "), ConfigurationEvents());
  EXPECT_TRUE(host.Faults().empty());
}

TEST_F(ReplaysConfigurationTest, AFolderChangeResetsEveryRecordRescansAndPublishesTheFolder) {
  SetLoggedInResources(replays.path());
  Start();
  TempFolder other("other");
  WriteTrec(other.path() + "/NA1-201.trec", "10.5.9.9");
  const size_t from = host.Events().size();

  host.SetResource(kSettings, R"({"data":{"replays-folder-path":)" + Quoted(other.path()) + "}}");

  const std::vector<std::string> events = ReplayEvents(from);
  ASSERT_EQ(events.size(), 5u);
  // Every known record back to download first (in the store's order) ...
  std::vector<std::string> resets(events.begin(), events.begin() + 2);
  std::sort(resets.begin(), resets.end());
  EXPECT_EQ(resets, (std::vector<std::string>{"101 download", "102 download"}));
  // ... then the new folder's replay, then the re-evaluation (the old 10.4
  // replay keeps its record, judged again), then the folder itself.
  EXPECT_EQ(events[2], "201 watch");
  EXPECT_EQ(events[3], "102 incompatible");
  EXPECT_EQ(events[4], std::string(kTrecPath) + " " + Quoted(other.path()));
  EXPECT_EQ(TrecPath(), Quoted(other.path()));
  EXPECT_EQ(StateOf(101), "download");
  EXPECT_EQ(StateOf(201), "watch");
  EXPECT_TRUE(std::filesystem::exists(replays.path() + "/NA1-101.trec"));

  // Back to the first folder: its replays are found again.
  host.SetResource(kSettings, R"({"data":{"replays-folder-path":)" + Quoted(replays.path()) + "}}");
  EXPECT_EQ(StateOf(101), "watch");
  EXPECT_EQ(StateOf(102), "incompatible");
  EXPECT_EQ(StateOf(201), "download");
  EXPECT_TRUE(host.Faults().empty());
}

TEST_F(ReplaysConfigurationTest, TheWatchPhaseFollowsUpdatesOnly) {
  SetLoggedInResources(replays.path());
  Start();
  ASSERT_FALSE(Configuration().find("isPlayingReplay").asBool());
  const size_t published = ConfigurationEvents();

  host.SetResource(kWatch, R"("WatchInProgress")");
  EXPECT_TRUE(Configuration().find("isPlayingReplay").asBool());
  host.SetResource(kWatch, R"("None")");
  EXPECT_FALSE(Configuration().find("isPlayingReplay").asBool());
  EXPECT_EQ(ConfigurationEvents(), published + 2);
  // No launch was asked for here: no watching metrics.
  for (const CallRequest& call : host.Resources().Calls()) {
    EXPECT_NE(call.url, "/telemetry/v1/events/tnk-be-pex-replays.watchingReplay");
  }
}

TEST_F(ReplaysConfigurationTest, BadResourceValuesNeverLoseRecordsOrFiles) {
  SetLoggedInResources(replays.path());
  Start();
  const std::string file = replays.path() + "/NA1-101.trec";
  ASSERT_EQ(StateOf(101), "watch");

  TempFolder scratch("scratch");
  const std::string plainFile = scratch.path() + "/not-a-folder";
  std::ofstream(plainFile) << "x";
  const std::string locked = scratch.path() + "/locked";
  std::filesystem::create_directory(locked);
  std::filesystem::permissions(
      locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const std::string longFolder = scratch.path() + "/" + std::string(10 * 1024, 'f');
  BindingProperty nan;
  nan.field("MinSupportedGameServerVersion") = "";
  nan.field("MinutesUntilReplayConsideredLost") = std::numeric_limits<double>::quiet_NaN();

  struct Step {
    const char* name;
    std::function<void()> apply;
    std::string folder;  // the replay folder afterwards
  };
  const std::string folder = replays.path();
  const std::vector<Step> steps = {
      {"system states of the wrong kind", [&] { host.SetResource(kSystemStates, R"("yes")"); },
       folder},
      {"lost minutes as text",
       [&] {
         host.SetResource(kReplaysNamespace, R"({"MinutesUntilReplayConsideredLost":"soon"})");
       },
       folder},
      {"negative lost minutes",
       [&] { host.SetResource(kReplaysNamespace, R"({"MinutesUntilReplayConsideredLost":-3})"); },
       folder},
      {"NaN lost minutes", [&] { host.Resources().SetResourceValue(kReplaysNamespace, nan); },
       folder},
      {"session phase as a number", [&] { host.SetResource(kSession, R"({"phase":42})"); }, folder},
      {"settings without data", [&] { host.SetResource(kSettings, "{}"); }, folder},
      {"login data of the wrong kind", [&] { host.SetResource(kLogin, "17"); }, folder},
      {"a folder that is a file",
       [&] {
         host.SetResource(kSettings,
                          R"({"data":{"replays-folder-path":)" + Quoted(plainFile) + "}}");
       },
       plainFile},
      {"a folder that cannot be created",
       [&] {
         host.SetResource(kSettings,
                          R"({"data":{"replays-folder-path":)" + Quoted(locked + "/inner") + "}}");
       },
       locked + "/inner"},
      {"a 10 KB folder",
       [&] {
         host.SetResource(kSettings,
                          R"({"data":{"replays-folder-path":)" + Quoted(longFolder) + "}}");
       },
       longFolder},
      {"back to the replay folder",
       [&] {
         host.SetResource(kSettings, R"({"data":{"replays-folder-path":)" + Quoted(folder) + "}}");
       },
       folder},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.apply();
    const BindingProperty configuration = Configuration();
    EXPECT_TRUE(configuration.find("isLoggedIn").asBool());
    // Refused limits fall back to the default, never to NaN or below 0.
    const double minutes = configuration.find("minutesUntilReplayConsideredLost").asDouble();
    EXPECT_TRUE(minutes == 60.0 || minutes == 30.0) << minutes;
    EXPECT_EQ(TrecPath(), Quoted(step.folder));
    EXPECT_NE(StateOf(101), "404");
    EXPECT_NE(StateOf(102), "404");
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_TRUE(std::filesystem::is_regular_file(plainFile));
  }
  EXPECT_EQ(StateOf(101), "watch");
  EXPECT_EQ(Configuration().find("minutesUntilReplayConsideredLost").asDouble(), 30.0);
  EXPECT_TRUE(host.Faults().empty());
}

}  // namespace
}  // namespace Zorv::Host
