// The road of a replay through the real plug-in library, with a demo
// workspace's host resources, the simulated game server and the simulated
// game client on virtual time: a server game downloaded into the replay
// folder, hostile download addresses, and a local replay watched to its end.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "demo_host.h"
#include "framework/events/event_name.h"
#include "host/plugin_host.h"
#include "support/temp_folder.h"
#include "zorv-host/demo_workspace.h"
#include "zorv-host/game_client.h"
#include "zorv-host/game_server.h"
#include "zorv-host/workspace.h"

namespace Zorv::Host {
namespace {

namespace fs = std::filesystem;

constexpr char kBase[] = "http://127.0.0.1:8899/zorv-host/v1/server/files/";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class PluginRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartDemoHost(workspace, host));
    ASSERT_TRUE(host.Bus().IsSubscribed(Client::EventNameForUrl(kWatchPhasePath)));
  }

  void Post(const std::string& url) {
    EndpointCall call;
    call.method = HOST_METHOD_POST;
    call.url = url;
    call.contentType = "application/json";
    call.body = R"({"componentType":"test"})";
    call.hasBody = true;
    ASSERT_TRUE(host.CallModule(call).ok) << url;
    host.RunPending();
  }
  void Download(uint64_t gameId) {
    Post("/pex-replays/v1/trecs/" + std::to_string(gameId) + "/download");
  }
  std::string StateOf(uint64_t gameId) {
    const EndpointAnswer answer =
        host.CallModule(HOST_METHOD_GET, "/pex-replays/v1/metadata/" + std::to_string(gameId));
    return answer.ok ? std::string(answer.value.find("state").asString())
                     : std::to_string(answer.status);
  }
  // isPlayingReplay of each configuration the plug-in published, in order.
  std::vector<bool> PlayingReplay() const {
    std::vector<bool> playing;
    for (const PublishedEvent& event : host.Events()) {
      if (event.name != "/pex-replays/v1/configuration") continue;
      const bool now = event.payload.find("isPlayingReplay").asBool();
      if (playing.empty() || playing.back() != now) playing.push_back(now);
    }
    return playing;
  }
  // Every entry of the workspace outside the replay folder, with its size.
  std::map<std::string, uintmax_t> EntriesOutsideReplayFolder() const {
    std::map<std::string, uintmax_t> entries;
    const std::string replays = workspace.ReplayFolder() + "/";
    for (const auto& entry : fs::recursive_directory_iterator(temp.path())) {
      const std::string path = entry.path().string();
      if (path.rfind(replays, 0) == 0) continue;
      entries[path] = entry.is_regular_file() ? entry.file_size() : 0;
    }
    return entries;
  }

  Testing::TempFolder temp{"plugin_road"};
  Workspace workspace{temp.path() + "/ws"};
  PluginHost host;
  GameServer server{host, workspace.ServerFolder(),
                    [](const std::string& name) { return kBase + name; }};
  GameClient client{host, {.watchSeconds = 20, .command = {}}};
};

TEST_F(PluginRoadTest, AServerGameDownloadsIntoTheReplayFolder) {
  const std::optional<std::string> file = server.FileFor("NA1-6001.trec");
  ASSERT_TRUE(file);
  const std::string bytes = ReadAll(*file);
  host.FakeTransport()->Answer("GET", std::string(kBase) + "NA1-6001.trec",
                               HttpResponse::Answer(200, bytes));
  Download(6001);

  EXPECT_EQ(StateOf(6001), "watch");
  EXPECT_TRUE(ReadAll(workspace.ReplayFolder() + "/NA1-6001.trec") == bytes);
  ASSERT_EQ(host.FakeTransport()->Requests().size(), 1u);

  // Another version's game comes down too, and is then seen to be incompatible.
  host.FakeTransport()->Answer(
      "GET", std::string(kBase) + "NA1-6002.trec",
      HttpResponse::Answer(200, ReadAll(*server.FileFor("NA1-6002.trec"))));
  Download(6002);
  EXPECT_EQ(StateOf(6002), "incompatible");
}

TEST_F(PluginRoadTest, AddressesTheServerCannotGiveEndInRetry) {
  ASSERT_EQ(server.SetRule(6001, R"({"url": ""})"), "");
  ASSERT_EQ(server.SetRule(7778, R"({"status": "OK"})"), "");  // found, but no file to give
  for (uint64_t gameId : {6001, 7778}) {
    Download(gameId);
    EXPECT_EQ(StateOf(gameId), "retryDownload") << gameId;
  }
  EXPECT_TRUE(host.FakeTransport()->Requests().empty());
}

TEST_F(PluginRoadTest, AHostileUrlWritesNothingOutsideTheReplayFolder) {
  const std::map<std::string, uintmax_t> before = EntriesOutsideReplayFolder();
  const char* urls[] = {
      "http://127.0.0.1:8899/zorv-host/v1/server/files/..",
      "http://127.0.0.1:8899/a/.",
      "http://127.0.0.1:8899/a/..%2F..%2Fhost-resources.json",
      "http://127.0.0.1:8899/a/b/",
      "file:///etc/passwd",
  };
  uint64_t gameId = 8000;
  for (const char* url : urls) {
    SCOPED_TRACE(url);
    BindingProperty rule;
    rule.field("url") = url;
    ASSERT_EQ(server.SetRule(++gameId, rule), "");
    host.FakeTransport()->Answer("GET", url, HttpResponse::Answer(200, "not a replay"));
    Download(gameId);
    EXPECT_NE(StateOf(gameId), "watch");
  }
  EXPECT_EQ(EntriesOutsideReplayFolder(), before);
  for (const auto& entry : fs::directory_iterator(workspace.ReplayFolder())) {
    EXPECT_TRUE(entry.is_regular_file()) << entry.path();
  }
}

TEST_F(PluginRoadTest, ALocalReplayIsWatchedToItsEnd) {
  ASSERT_EQ(StateOf(5001), "watch");
  Post("/pex-replays/v1/trecs/5001/watch");
  EXPECT_TRUE(client.Watching());
  EXPECT_EQ(PlayingReplay(), (std::vector<bool>{false, true}));

  host.Advance(std::chrono::milliseconds(19999));
  EXPECT_EQ(PlayingReplay(), (std::vector<bool>{false, true}));
  host.Advance(std::chrono::milliseconds(1));
  EXPECT_FALSE(client.Watching());
  EXPECT_EQ(PlayingReplay(), (std::vector<bool>{false, true, false}));

  // The launch carried the replay's path and the settings' highlights folder.
  const CallRequest* launch = nullptr;
  for (const CallRequest& call : host.Resources().Calls()) {
    if (call.path == kWatchLaunchPath) launch = &call;
  }
  ASSERT_NE(launch, nullptr);
  ASSERT_EQ(launch->arguments.size(), 1u);
  EXPECT_EQ(launch->arguments[0].element(0).asString(),
            workspace.ReplayFolder() + "/NA1-5001.trec");
  EXPECT_EQ(launch->arguments[0].element(1).asString(),
            "-HighlightsPath=" + workspace.HighlightsFolder());
}

}  // namespace
}  // namespace Zorv::Host
