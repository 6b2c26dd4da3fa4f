// The road of a replay through the real library, as a player walks it: the
// host resources bring the plug-in up logged in with replays enabled; a
// download of a game the folder does not hold is looked up on the server,
// fetched over HTTP into the folder and becomes watchable; the watch request
// launches the game client on the file; the game flow's watch phase then
// turns the configuration's playing flag on and off. And the graceful
// download whose server lookups keep answering "not found".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "binding/json_writer.h"
#include "host/plugin_host.h"
#include "pe/pe_writer.h"
#include "support/temp_folder.h"
#include "trec/trec_writer.h"

namespace Zorv::Host {
namespace {

using Client::Replays::MetadataJson;
using Client::Replays::TrecBytes;
using Client::Replays::TrecImage;

constexpr char kGameVersion[] = "10.5.1.2";
constexpr char kReplayUrl[] = "https://cdn.example/replays/NA1-42.trec?sig=abc";

std::string Quoted(const std::string& text) {
  return ToJsonText(BindingProperty(text));
}

class ReplaysRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    replays = root.path() + "/Replays";
    highlights = root.path() + "/Highlights";
    const std::string client = root.path() + "/Game";
    ASSERT_EQ(::mkdir(client.c_str(), 0755), 0);
    Testing::PeOptions exe;
    exe.fileVersion = {10, 5, 1, 2};
    ASSERT_TRUE(Testing::WritePeFile(client + "/Vellmoor.exe", exe));

    ASSERT_TRUE(host.SetResource("/pex-settings/v1/local/pex-replays",
                                 R"({"data":{"replays-folder-path":)" + Quoted(replays) +
                                     R"(,"highlights-folder-path":)" + Quoted(highlights) + "}}"));
    ASSERT_TRUE(host.SetResource("/pex-login/v1/login-data-packet", R"({"platformId":"NA1"})"));
    ASSERT_TRUE(host.SetResource(
        "/pex-platform-config/v1/namespaces/ClientSystemStates/replaySystemStates",
        R"({"replayServiceEnabled":true,"endOfGameEnabled":true,"matchHistoryEnabled":true})"));
    ASSERT_TRUE(host.SetResource(
        "/pex-platform-config/v1/namespaces/Replays",
        R"({"MinSupportedGameServerVersion":"10.5.0.0","MinutesUntilReplayConsideredLost":30})"));
    ASSERT_TRUE(host.SetResource("/pex-gameflow/v1/availability", R"({"state":"Idle"})"));
    ASSERT_TRUE(host.SetResource("/pex-gameflow/v1/session",
                                 R"({"phase":"None","gameClient":{"running":false}})"));
    ASSERT_TRUE(host.SetResource("/pex-gameflow/v1/watch", R"("None")"));
    ASSERT_TRUE(
        host.SetResource("/pex-skirra/v2/playmode-restricted", R"({"isRestricted":false})"));
    ASSERT_TRUE(host.SetResource("/patcher/v1/products/vellmoor/paths",
                                 R"({"pex_game_client_sln":)" + Quoted(client) + "}"));
    host.Handle(HOST_METHOD_POST, "/pex-gameflow/v1/watch/launch", [this](const CallRequest& call) {
      launches.push_back(call);
      return launchError ? CallAnswer::Error(*launchError, 500) : CallAnswer::Value({});
    });
    // The settings as stored, or a failed read while `settingsFail` holds.
    host.Handle(HOST_METHOD_GET, "/pex-settings/v1/local/pex-replays", [this](const CallRequest&) {
      if (settingsFail) return CallAnswer::Error("settings store unavailable", 503);
      return CallAnswer::Value(*host.Resources().Resource("/pex-settings/v1/local/pex-replays"));
    });

    ASSERT_EQ(host.Load(PEX_REPLAYS_PATH), "");
    ASSERT_TRUE(host.Initialize());
    host.RunPending();
  }

  EndpointAnswer Post(const std::string& url, const std::string& body) {
    EndpointCall call;
    call.method = HOST_METHOD_POST;
    call.url = url;
    call.contentType = "application/json";
    call.body = body;
    call.hasBody = true;
    return host.CallModule(call);
  }
  BindingProperty Configuration() {
    const EndpointAnswer answer = host.CallModule(HOST_METHOD_GET, "/pex-replays/v1/configuration");
    EXPECT_TRUE(answer.ok) << answer.error;
    return answer.value;
  }
  // "kind payload" of every event published at `name` since event `from`.
  std::vector<std::string> EventsAt(const std::string& name, size_t from = 0) const {
    std::vector<std::string> events;
    for (size_t i = from; i < host.Events().size(); ++i) {
      const PublishedEvent& event = host.Events()[i];
      if (event.name == name) {
        events.push_back(std::to_string(event.eventType) + " " + ToJsonText(event.payload));
      }
    }
    return events;
  }
  // "step" (and " response" or " trecSize=N" when there is one) of every
  // telemetry event of one journey ("downloadingReplay", "launchingReplay", "watchingReplay").
  std::vector<std::string> Metrics(const std::string& journey) {
    std::vector<std::string> steps;
    for (const CallRequest& call : host.Resources().Calls()) {
      if (call.url != "/telemetry/v1/events/tnk-be-pex-replays." + journey) continue;
      const BindingProperty& fields = call.arguments.at(0);
      std::string step(fields.find("step").asString());
      for (const char* detail : {"response", "trecSize"}) {
        if (fields.find(detail).isEmpty()) continue;
        step += " ";
        if (detail[0] == 't') step += "trecSize=";
        step += fields.find(detail).asString();
      }
      steps.push_back(step);
    }
    return steps;
  }

  // Scripts the server to know game 42 and hand out its address, and the
  // address to answer with a replay file; answers the file's bytes.
  std::string ServeReplay() {
    TrecImage image;
    image.metadata = MetadataJson({1800000, kGameVersion, 30, 15});
    image.bodySize = 4096;
    const std::string bytes = TrecBytes(image);
    host.ServiceProxy().Answer(
        "replays.retrieval", "getMultipleMetadata",
        ServiceAnswer::Payload(R"({"metadataResponses":[{"gameId":42,"status":"OK",)"
                               R"("metadata":{"gameVersion":"10.5.1.2","fileSize":)" +
                               std::to_string(bytes.size()) + "}}]}"));
    host.ServiceProxy().Answer(
        "replays.retrieval", "getDownloadUrl",
        ServiceAnswer::Payload(std::string(R"({"url":")") + kReplayUrl + R"("})"));
    host.FakeTransport()->Answer("GET", kReplayUrl, HttpResponse::Answer(200, bytes));
    return bytes;
  }
  std::string StateOf(const std::string& gameId) {
    return std::string(host.CallModule(HOST_METHOD_GET, "/pex-replays/v1/metadata/" + gameId)
                           .value.find("state")
                           .asString());
  }
  std::vector<std::string> WarningsSince(size_t from) const {
    std::vector<std::string> lines;
    for (size_t i = from; i < host.Logs().size(); ++i) {
      if (host.Logs()[i].level == 1) lines.push_back(host.Logs()[i].message);
    }
    return lines;
  }

  Testing::TempFolder root{"replays_road"};
  std::string replays;
  std::string highlights;
  PluginHost host;
  std::vector<CallRequest> launches;
  std::optional<std::string> launchError;
  bool settingsFail = false;
};

std::string Metadata(const char* state, int progress) {
  return std::string(R"(1 {"downloadProgress":)") + std::to_string(progress) +
         R"(,"gameId":42,"state":")" + state + R"("})";
}

TEST_F(ReplaysRoadTest, DownloadOfAnUnknownGameThenWatchItToTheEnd) {
  // Brought up by the host resources alone.
  const BindingProperty configuration = Configuration();
  EXPECT_TRUE(configuration.find("isLoggedIn").asBool());
  EXPECT_TRUE(configuration.find("isReplaysEnabled").asBool());
  EXPECT_EQ(configuration.find("gameVersion").asString(), kGameVersion);
  EXPECT_EQ(configuration.find("minServerVersion").asString(), "10.5.0.0");
  EXPECT_EQ(ToJsonText(host.CallModule(HOST_METHOD_GET, "/pex-replays/v1/trecs/path").value),
            Quoted(replays));
  EXPECT_TRUE(host.Faults().empty());

  // Download: the server knows the game and hands out its address.
  const std::string bytes = ServeReplay();
  const size_t before = host.Events().size();
  ASSERT_TRUE(Post("/pex-replays/v1/trecs/42/download", R"({"componentType":"match-history"})").ok);
  host.RunPending();

  const std::string file = replays + "/NA1-42.trec";
  EXPECT_EQ(EventsAt("/pex-replays/v1/metadata/42", before),
            (std::vector<std::string>{Metadata("checking", 0), Metadata("found", 0),
                                      Metadata("downloading", 0), Metadata("downloading", 100),
                                      Metadata("watch", 100)}));
  ASSERT_EQ(host.FakeTransport()->Requests().size(), 1u);
  EXPECT_EQ(host.FakeTransport()->Requests()[0].url, kReplayUrl);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(static_cast<size_t>(info.st_size), bytes.size());
  EXPECT_EQ(
      Metrics("downloadingReplay"),
      (std::vector<std::string>{"click", "metadata-request", "metadata-response-ok ok",
                                "trec-url-request", "trec-url-response-ok", "trec-download-request",
                                "trec-download-ok trecSize=" + std::to_string(bytes.size())}));

  // Watch: the game client is launched on the file with the highlights folder.
  ASSERT_TRUE(Post("/pex-replays/v1/trecs/42/watch", R"({"componentType":"match-history"})").ok);
  ASSERT_EQ(launches.size(), 1u);
  ASSERT_EQ(launches[0].arguments.size(), 1u);
  EXPECT_EQ(ToJsonText(launches[0].arguments[0]),
            "[" + Quoted(file) + "," + Quoted("-HighlightsPath=" + highlights) + "]");
  EXPECT_EQ(Metrics("launchingReplay"),
            (std::vector<std::string>{"click", "launch-request", "launch-ok"}));
  EXPECT_TRUE(host.LogContains("Plugin successfully launched Replay '42'"));

  // The game flow reports the watch; the configuration follows it.
  const size_t launched = host.Events().size();
  ASSERT_TRUE(host.SetResource("/pex-gameflow/v1/watch", R"("WatchInProgress")"));
  host.RunPending();
  std::vector<std::string> published = EventsAt("/pex-replays/v1/configuration", launched);
  ASSERT_EQ(published.size(), 1u);
  EXPECT_NE(published[0].find(R"("isPlayingReplay":true)"), std::string::npos) << published[0];
  EXPECT_EQ(Metrics("watchingReplay"), std::vector<std::string>{"game-launched"});

  const size_t playing = host.Events().size();
  ASSERT_TRUE(host.SetResource("/pex-gameflow/v1/watch", R"("None")"));
  host.RunPending();
  published = EventsAt("/pex-replays/v1/configuration", playing);
  ASSERT_EQ(published.size(), 1u);
  EXPECT_NE(published[0].find(R"("isPlayingReplay":false)"), std::string::npos) << published[0];
  EXPECT_EQ(Metrics("watchingReplay"),
            (std::vector<std::string>{"game-launched", "game-terminated"}));

  // The watch ended: the replay can be watched again, and the next watch
  // phase change that this plug-in did not cause sends nothing.
  ASSERT_TRUE(host.SetResource("/pex-gameflow/v1/watch", R"("WatchInProgress")"));
  host.RunPending();
  EXPECT_EQ(Metrics("watchingReplay").size(), 2u);
  EXPECT_TRUE(host.Faults().empty());
}

// Each way a watch request can fail, through the module, on a replay that
// was downloaded: a failed settings read only drops the highlights argument;
// a second watch while one plays is refused; a failed launch (with the
// game flow's reason or without one) leaves no watched game behind; a file
// deleted behind the module's back sends the record back to download.
TEST_F(ReplaysRoadTest, WatchFailuresThroughTheModule) {
  ServeReplay();
  ASSERT_TRUE(Post("/pex-replays/v1/trecs/42/download", R"({"componentType":"eog"})").ok);
  host.RunPending();
  ASSERT_EQ(StateOf("42"), "watch");
  const std::string file = replays + "/NA1-42.trec";
  const auto watch = [this] {
    ASSERT_TRUE(Post("/pex-replays/v1/trecs/42/watch", R"({"componentType":"eog"})").ok);
  };
  const auto lastLaunchMetric = [this] { return Metrics("launchingReplay").back(); };

  // Settings cannot be read: the launch goes on with the path alone.
  settingsFail = true;
  watch();
  settingsFail = false;
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(ToJsonText(launches[0].arguments.at(0)), "[" + Quoted(file) + "]");
  EXPECT_EQ(lastLaunchMetric(), "launch-ok");

  // A second watch while the first plays is refused, naming both games.
  ASSERT_TRUE(host.SetResource("/pex-gameflow/v1/watch", R"("WatchInProgress")"));
  host.RunPending();
  size_t logged = host.Logs().size();
  watch();
  EXPECT_EQ(launches.size(), 1u);
  EXPECT_EQ(WarningsSince(logged),
            std::vector<std::string>{
                "Plugin attempted to play replay (42) while already playing replay (42)"});
  EXPECT_EQ(lastLaunchMetric(),
            "processing-anomaly Plugin attempted to play replay (42) while already playing "
            "replay (42)");
  ASSERT_TRUE(host.SetResource("/pex-gameflow/v1/watch", R"("None")"));
  host.RunPending();
  EXPECT_EQ(Metrics("watchingReplay"),
            (std::vector<std::string>{"game-launched", "game-terminated"}));

  // The game flow refuses the launch, with a reason and without one; either
  // way no game stays watched, so a later watch phase sends no metric.
  struct Failure {
    std::string reason;
    std::string metric;
    std::vector<std::string> warnings;
  };
  const Failure failures[] = {
      {"client busy", "launch-error Plugin could not launch Replay (42), reason: client busy", {}},
      {"",
       "launch-error Failed with unknown reason",
       {"Plugin could not launch Replay (42), reason: unknown",
        "Plugin could not launch Replay '42', reason: "}},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.reason);
    launchError = f.reason;
    logged = host.Logs().size();
    const size_t launched = launches.size();
    watch();
    EXPECT_EQ(launches.size(), launched + 1);
    EXPECT_EQ(lastLaunchMetric(), f.metric);
    EXPECT_EQ(WarningsSince(logged), f.warnings);
    ASSERT_TRUE(host.SetResource("/pex-gameflow/v1/watch", R"("WatchInProgress")"));
    ASSERT_TRUE(host.SetResource("/pex-gameflow/v1/watch", R"("None")"));
    host.RunPending();
    EXPECT_EQ(Metrics("watchingReplay").size(), 2u);
  }
  launchError.reset();

  // The file is gone: the record goes back to download without a path.
  ASSERT_EQ(::unlink(file.c_str()), 0);
  const size_t before = host.Events().size();
  const size_t launched = launches.size();
  watch();
  EXPECT_EQ(launches.size(), launched);
  EXPECT_EQ(lastLaunchMetric(),
            "processing-anomaly Plugin encountered missing Replay (42), "
            "resetting its metadata and trecPath->" +
                file);
  const std::vector<std::string> published = EventsAt("/pex-replays/v1/metadata/42", before);
  ASSERT_EQ(published.size(), 1u);
  EXPECT_NE(published[0].find(R"("state":"download")"), std::string::npos) << published[0];
  EXPECT_EQ(StateOf("42"), "download");
  EXPECT_TRUE(host.Faults().empty());
}

// A graceful download asks the server at 4, 12 and 28 seconds; when every
// answer is "not found", the game ends in retryDownload, or in lost once the
// game ended longer ago than the lost minutes.
TEST_F(ReplaysRoadTest, GracefulDownloadThatTheServerNeverFinds) {
  struct Case {
    const char* name;
    const char* createBody;
    const char* finalState;
  };
  const Case cases[] = {
      {"game still in progress", R"({"gameEnd":4102444800000})", "retryDownload"},
      {"game ended long ago", R"({"gameEnd":1})", "lost"},
  };
  host.ServiceProxy().Answer(
      "replays.retrieval", "getMultipleMetadata",
      ServiceAnswer::Payload(R"({"metadataResponses":[{"gameId":42,"status":"NOT_FOUND"}]})"));
  size_t asked = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Post("/pex-replays/v2/metadata/42/create", c.createBody).ok);
    const size_t before = host.Events().size();
    ASSERT_TRUE(
        Post("/pex-replays/v1/trecs/42/download/graceful", R"({"componentType":"eog"})").ok);
    for (const int64_t seconds : {4, 8, 16}) {
      host.Advance(std::chrono::seconds(seconds) - std::chrono::milliseconds(1));
      EXPECT_EQ(host.ServiceProxy().Requests().size(), asked) << seconds;
      host.Advance(std::chrono::milliseconds(1));
      EXPECT_EQ(host.ServiceProxy().Requests().size(), ++asked) << seconds;
    }
    host.Advance(std::chrono::minutes(5));
    EXPECT_EQ(host.ServiceProxy().Requests().size(), asked);
    EXPECT_EQ(EventsAt("/pex-replays/v1/metadata/42", before),
              (std::vector<std::string>{Metadata("checking", 0), Metadata(c.finalState, 0)}));
    EXPECT_TRUE(host.FakeTransport()->Requests().empty());
  }
  EXPECT_TRUE(host.Faults().empty());
}

}  // namespace
}  // namespace Zorv::Host
