// The zorv-host program as a user meets it: started on a demo workspace,
// spoken to over real HTTP with its token, its event stream read as it
// happens, and stopped with a signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "binding/base64.h"
#include "binding/json_reader.h"
#include "support/temp_folder.h"
#include "tools/zorv_host_process/zorv_host_process.h"

namespace Zorv::Host::Testing {
namespace {

namespace fs = std::filesystem;

constexpr char kDownloadBody[] = R"({"componentType":"test"})";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string BasicCredentials(const std::string& user, const std::string& password) {
  const std::string pair = user + ":" + password;
  return Base64Encode({reinterpret_cast<const uint8_t*>(pair.data()), pair.size()});
}

BindingProperty Json(const httplib::Result& result) {
  if (!result) return BindingProperty();
  BindingResult parsed = FromJsonText(result->body);
  return parsed.success ? std::move(parsed.value) : BindingProperty();
}

// Accepts the update of one game's metadata that reaches `state`.
auto MetadataState(uint64_t gameId, std::string_view state) {
  const std::string uri = "/pex-replays/v1/metadata/" + std::to_string(gameId);
  return [uri, state = std::string(state)](const BindingProperty& message) {
    return message.find("uri").asString() == uri &&
           message.find("data").find("state").asString() == state;
  };
}

auto PlayingReplay(bool playing) {
  return [playing](const BindingProperty& message) {
    return message.find("uri").asString() == "/pex-replays/v1/configuration" &&
           message.find("data").find("isPlayingReplay").asBool() == playing;
  };
}

class ZorvHostProcessTest : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> extra = {}) {
    process = std::make_unique<ZorvHostProcess>(temp.path() + "/ws", std::move(extra));
    ASSERT_TRUE(process->Started()) << process->Output();
    client = process->Client();
  }
  httplib::Result Post(const std::string& path, const std::string& body = kDownloadBody) {
    return client->Post(path.c_str(), body, "application/json");
  }
  std::string StateOf(uint64_t gameId) {
    const auto result = client->Get(("/pex-replays/v1/metadata/" + std::to_string(gameId)).c_str());
    return std::string(Json(result).find("state").asString());
  }
  bool Eventually(const std::function<bool()>& done) { return Testing::Eventually(done); }

  Zorv::Testing::TempFolder temp{"zorv_host_process"};
  std::unique_ptr<ZorvHostProcess> process;
  std::unique_ptr<httplib::Client> client;
};

TEST_F(ZorvHostProcessTest, AServerGameIsDownloadedAndWatched) {
  Start({"--watch-seconds", "1"});
  EventReader events(*process);
  ASSERT_TRUE(events.Open());

  const auto download = Post("/pex-replays/v1/trecs/6001/download");
  ASSERT_TRUE(download);
  EXPECT_EQ(download->status, 204) << download->body;
  for (const char* state : {"checking", "found", "downloading", "watch"})
    ASSERT_FALSE(events.Next(MetadataState(6001, state)).isEmpty()) << state;
  const std::string replay = process->Workspace() + "/Documents/Vellmoor/Replays/NA1-6001.trec";
  EXPECT_TRUE(ReadAll(replay) == ReadAll(process->Workspace() + "/server/NA1-6001.trec"));

  const auto watch = Post("/pex-replays/v1/trecs/6001/watch");
  ASSERT_TRUE(watch);
  EXPECT_EQ(watch->status, 204) << watch->body;
  EXPECT_FALSE(events.Next(PlayingReplay(true)).isEmpty());
  EXPECT_FALSE(events.Next(PlayingReplay(false)).isEmpty());

  // The plug-in's metric events of the journey reached the host.
  const BindingProperty telemetry = Json(client->Get("/zorv-host/v1/telemetry"));
  std::vector<std::string> names;
  for (size_t i = 0; i < telemetry.size(); ++i)
    names.emplace_back(telemetry.element(i).find("name").asString());
  EXPECT_NE(std::find(names.begin(), names.end(), "tnk-be-pex-replays.watchingReplay"),
            names.end());
}

TEST_F(ZorvHostProcessTest, ServerRulesShapeTheLookup) {
  Start();
  const auto refused =
      client->Put("/zorv-host/v1/server/rules/6001", R"({"colour": 1})", "application/json");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 400);
  EXPECT_NE(Json(refused).find("message").asString().find("colour"), std::string_view::npos);

  const auto rule = client->Put("/zorv-host/v1/server/rules/6001", R"({"status": "EXPIRED"})",
                                "application/json");
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->status, 204);
  EXPECT_EQ(Json(client->Get("/zorv-host/v1/server/rules")).find("6001").find("status").asString(),
            "EXPIRED");
  ASSERT_TRUE(Post("/pex-replays/v1/trecs/6001/download"));
  EXPECT_TRUE(Eventually([&] { return StateOf(6001) == "missingOrExpired"; })) << StateOf(6001);
}

TEST_F(ZorvHostProcessTest, ASlowServerAnswerLeavesOtherCallsServed) {
  Start();
  ASSERT_TRUE(
      client->Put("/zorv-host/v1/server/rules/6001", R"({"delayMs": 60000})", "application/json"));
  ASSERT_TRUE(Post("/pex-replays/v1/trecs/6001/download"));
  // Other calls are answered while the lookup still waits for its answer.
  const auto configuration = client->Get("/pex-replays/v1/configuration");
  ASSERT_TRUE(configuration);
  EXPECT_EQ(configuration->status, 200);
  EXPECT_EQ(StateOf(5001), "watch");
  EXPECT_EQ(StateOf(6001), "checking");
}

TEST_F(ZorvHostProcessTest, ANewReplayFolderIsScannedAndPublished) {
  Start();
  EventReader events(*process);
  ASSERT_TRUE(events.Open());
  const std::string folder = temp.path() + "/other replays";
  fs::create_directories(folder);
  fs::copy_file(process->Workspace() + "/server/NA1-6001.trec", folder + "/NA1-6001.trec");

  const std::string settings = R"({"data": {"replays-folder-path": ")" + folder + R"("}})";
  const auto put = client->Put("/pex-settings/v1/local/pex-replays", settings, "application/json");
  ASSERT_TRUE(put);
  EXPECT_EQ(put->status, 204);
  const BindingProperty published = events.Next([](const BindingProperty& message) {
    return message.find("uri").asString() == "/pex-replays/v1/trecs/path";
  });
  EXPECT_EQ(published.find("data").asString(), folder);
  EXPECT_EQ(Json(client->Get("/pex-replays/v1/trecs/path")).asString(), folder);
  EXPECT_TRUE(Eventually([&] { return StateOf(6001) == "watch"; })) << StateOf(6001);
  // The host's own change went out on the stream too, before the plug-in's answer to it.
  const std::vector<BindingProperty> messages = events.Messages();
  EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const BindingProperty& message) {
    return message.find("uri").asString() == "/pex-settings/v1/local/pex-replays" &&
           message.find("eventType").asString() == "Update";
  }));
}

TEST_F(ZorvHostProcessTest, RequestsWithoutTheTokenOrFromElsewhereAreRefused) {
  Start();
  const std::string port = std::to_string(process->Port());
  struct Case {
    const char* what;
    const char* path;
    httplib::Headers headers;
    int status;
  };
  const std::vector<Case> cases = {
      {"no token", "/pex-replays/v1/configuration", {}, 401},
      {"wrong token", "/help", {{"Authorization", "Bearer 0123"}}, 401},
      {"token as basic password",
       "/help",
       {{"Authorization", "Basic " + BasicCredentials("me", process->Token())}},
       200},
      {"rebound host name",
       "/help",
       {{"Authorization", "Bearer " + process->Token()}, {"Host", "evil.example:" + port}},
       403},
      {"other port",
       "/help",
       {{"Authorization", "Bearer " + process->Token()}, {"Host", "127.0.0.1:1"}},
       403},
      {"foreign origin",
       "/help",
       {{"Authorization", "Bearer " + process->Token()}, {"Origin", "http://evil.example"}},
       403},
      {"server file without token", "/zorv-host/v1/server/files/NA1-6001.trec", {}, 200},
      {"server file outside the folder",
       "/zorv-host/v1/server/files/..%2Fhost-resources.json",
       {},
       404},
  };
  for (const Case& c : cases) {
    httplib::Client bare("127.0.0.1", process->Port());
    const auto result = bare.Get(c.path, c.headers);
    ASSERT_TRUE(result) << c.what;
    EXPECT_EQ(result->status, c.status) << c.what << ": " << result->body;
    EXPECT_FALSE(result->has_header("Access-Control-Allow-Origin")) << c.what;
  }
}

TEST_F(ZorvHostProcessTest, AStopWhileAServerAnswerNeverComesEndsCleanly) {
  Start();
  ASSERT_TRUE(
      client->Put("/zorv-host/v1/server/rules/6001", R"({"noAnswer": true})", "application/json"));
  ASSERT_TRUE(Post("/pex-replays/v1/trecs/6001/download"));
  // The lookup has asked the server once its request metric is out.
  ASSERT_TRUE(Eventually([&] {
    return Json(client->Get("/zorv-host/v1/telemetry")).size() >= 2 && StateOf(6001) == "checking";
  }));
  client.reset();
  const int status = process->Stop(SIGTERM);
  ASSERT_NE(status, -1) << "zorv-host did not stop: " << process->Output();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << process->Output();
  EXPECT_FALSE(fs::exists(process->LockFile()));
}

TEST_F(ZorvHostProcessTest, AnIdleHostSleeps) {
  Start();
  const auto cpuTicks = [&] {
    std::ifstream in("/proc/" + std::to_string(process->Pid()) + "/stat");
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    // Fields 14 and 15 (user and system time) follow the command's closing parenthesis.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index)
      if (index >= 14) ticks += std::stol(field);
    return ticks;
  };
  const long before = cpuTicks();
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the idle second being measured
  const long used = cpuTicks() - before;
  const double wallTicks =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() *
      static_cast<double>(sysconf(_SC_CLK_TCK));
  EXPECT_LT(static_cast<double>(used), wallTicks / 10) << used << " of " << wallTicks;

  // Ctrl-C stops it as cleanly as SIGTERM.
  const int status = process->Stop(SIGINT);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << process->Output();
  EXPECT_FALSE(fs::exists(process->LockFile()));
}

}  // namespace
}  // namespace Zorv::Host::Testing
