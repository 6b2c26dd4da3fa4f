// The simulated game server, its lookups driven by the real plug-in library on
// virtual time: server games and games it does not have, the download address,
// each rule, and the file route's refusal of names outside the server folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "demo_host.h"
#include "host/plugin_host.h"
#include "support/temp_folder.h"
#include "zorv-host/demo_workspace.h"
#include "zorv-host/game_server.h"
#include "zorv-host/workspace.h"

namespace Zorv::Host {
namespace {

namespace fs = std::filesystem;

constexpr char kBase[] = "http://127.0.0.1:8899/zorv-host/v1/server/files/";

class GameServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartDemoHost(workspace, host)); }

  // Starts a download of the game and runs the host until it settles.
  void Download(uint64_t gameId) {
    EndpointCall call;
    call.method = HOST_METHOD_POST;
    call.url = "/pex-replays/v1/trecs/" + std::to_string(gameId) + "/download";
    call.contentType = "application/json";
    call.body = R"({"componentType":"test"})";
    call.hasBody = true;
    ASSERT_TRUE(host.CallModule(call).ok);
    host.RunPending();
  }
  std::string StateOf(uint64_t gameId) {
    const EndpointAnswer answer =
        host.CallModule(HOST_METHOD_GET, "/pex-replays/v1/metadata/" + std::to_string(gameId));
    return answer.ok ? std::string(answer.value.find("state").asString())
                     : std::to_string(answer.status);
  }
  // The last answer the server delivered, as {payload, status, error}.
  BindingProperty LastDelivered() {
    return host.ServiceProxy().Delivered().empty() ? BindingProperty()
                                                   : host.ServiceProxy().Delivered().back();
  }
  Testing::TempFolder temp{"game_server"};
  Workspace workspace{temp.path() + "/ws"};
  PluginHost host;
  GameServer server{host, workspace.ServerFolder(),
                    [](const std::string& name) { return kBase + name; }};
};

TEST_F(GameServerTest, MethodsAnswerFromTheServerFolder) {
  const std::string size =
      std::to_string(fs::file_size(workspace.ServerFolder() + "/NA1-6001.trec"));
  const std::string notFound =
      R"({"metadataResponses":[{"gameId":6009,"metadata":{"fileSize":0,"gameVersion":""},"status":"NOT_FOUND"}]})";
  struct Case {
    const char* method;
    const char* payload;  // as the plug-in sends it
    std::string answer;   // the delivered payload, or the error
  };
  const Case cases[] = {
      {"getMultipleMetadata", R"({"gameIds":[6001],"platformId":"NA1"})",
       R"({"metadataResponses":[{"gameId":6001,"metadata":{"fileSize":)" + size +
           R"(,"gameVersion":"14.3.498.1120"},"status":"OK"}]})"},
      {"getMultipleMetadata", R"({"gameIds":[6009,6001],"platformId":"NA1"})", notFound},
      {"getMultipleMetadata", R"({"gameIds":[6001],"platformId":"EUW1"})",
       R"({"metadataResponses":[{"gameId":6001,"metadata":{"fileSize":0,"gameVersion":""},"status":"NOT_FOUND"}]})"},
      {"getMultipleMetadata", R"({"gameIds":[],"platformId":"NA1"})",
       R"({"metadataResponses":[]})"},
      {"getMultipleMetadata", R"({"gameIds":["6001"]})",
       "getMultipleMetadata: a game id is not an unsigned number"},
      {"getMultipleMetadata", "[", "getMultipleMetadata: Error: "},
      {"getDownloadUrl", R"({"gameId":6001,"platformId":"NA1"})",
       R"({"url":"http://127.0.0.1:8899/zorv-host/v1/server/files/NA1-6001.trec"})"},
      {"getDownloadUrl", R"({"gameId":6009,"platformId":"NA1"})", R"({"url":""})"},
      {"getDownloadUrl", R"({"gameId":6001,"platformId":"../server/NA1"})", R"({"url":""})"},
      {"getDownloadUrl", R"({"platformId":"NA1"})",
       R"(getDownloadUrl: "gameId" is not an unsigned number)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.payload);
    std::vector<BindingProperty> arguments(4);
    arguments[0] = kReplayService;
    arguments[1] = c.method;
    arguments[2] = uint64_t{1};
    arguments[3] = c.payload;
    CallRequest request;
    request.method = HOST_METHOD_POST;
    request.url = request.path = kServiceProxyUuidRequestPath;
    request.argumentNames.assign(4, "");
    request.arguments = std::move(arguments);
    ASSERT_NE(host.Resources().Route(request).kind, CallAnswer::Kind::Error);
    host.RunPending();
    const BindingProperty delivered = LastDelivered();
    if (delivered.find("error").asString().empty()) {
      EXPECT_EQ(delivered.find("payload").asString(), c.answer);
    } else {
      EXPECT_EQ(delivered.find("error").asString().rfind(c.answer, 0), 0u)
          << delivered.find("error").asString();
    }
  }
  const std::optional<std::string> file = server.FileFor("NA1-6001.trec");
  ASSERT_TRUE(file);
  EXPECT_EQ(*file, workspace.ServerFolder() + "/NA1-6001.trec");
}

TEST_F(GameServerTest, RulesAndMissingGamesDecideTheLookup) {
  struct Case {
    const char* name;
    uint64_t gameId;
    const char* rule;  // null: none
    const char* state;
  };
  const Case cases[] = {
      {"a game the server does not have", 7777, nullptr, "retryDownload"},
      {"status", 6001, R"({"status": "EXPIRED"})", "missingOrExpired"},
      {"error", 6002, R"({"error": "the server is on fire"})", "error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.rule) {
      ASSERT_EQ(server.SetRule(c.gameId, c.rule), "");
    }
    Download(c.gameId);
    EXPECT_EQ(StateOf(c.gameId), c.state);
  }
  EXPECT_EQ(LastDelivered().find("error").asString(), "the server is on fire");
}

TEST_F(GameServerTest, ADelayedAnswerComesAfterItsDelayOfVirtualTime) {
  ASSERT_EQ(server.SetRule(6001, R"({"status": "NOT_FOUND", "delayMs": 1500})"), "");
  // The plug-in waits by yielding, and idle yields let virtual time pass, so
  // the host's own timers look at the answers on the way.
  std::vector<size_t> answered;
  for (double at : {1.499, 1.501}) {
    host.ScheduleHostWork(
        "probe", [&] { answered.push_back(host.ServiceProxy().Delivered().size()); }, at);
  }
  Download(6001);
  host.Advance(std::chrono::seconds(1));
  EXPECT_EQ(answered, (std::vector<size_t>{0, 1}));
  EXPECT_EQ(StateOf(6001), "retryDownload");
}

TEST_F(GameServerTest, NoAnswerLeavesTheLookupWaiting) {
  ASSERT_EQ(server.SetRule(6001, R"({"noAnswer": true})"), "");
  std::string stateAfterAnHour;
  host.ScheduleHostWork(
      "probe",
      [&] {
        EXPECT_TRUE(host.ServiceProxy().Delivered().empty());
        stateAfterAnHour = StateOf(6001);
        // Ends the wait, so the test can end.
        host.ServiceProxy().Respond(host.ServiceProxy().Requests().at(0).uuid,
                                    ServiceAnswer::Error("released by the test"));
      },
      3600);
  Download(6001);
  EXPECT_EQ(stateAfterAnHour, "checking");
  EXPECT_EQ(host.ServiceProxy().Requests().size(), 1u);
}

TEST_F(GameServerTest, RulesAreCheckedListedAndRemoved) {
  struct Bad {
    const char* rule;
    const char* error;
  };
  const Bad bad[] = {
      {R"({"status": "expired"})", "\"status\" must be one of OK, NOT_FOUND"},
      {R"({"status": 2})", "\"status\" must be one of"},
      {R"({"error": ""})", "\"error\" must be a non-empty text"},
      {R"({"delayMs": -1})", "\"delayMs\" must be a whole number"},
      {R"({"delayMs": 1.5})", "\"delayMs\" must be a whole number"},
      {R"({"delayMs": 3600001})", "\"delayMs\" must be a whole number"},
      {R"({"noAnswer": "yes"})", "\"noAnswer\" must be true or false"},
      {R"({"url": null})", "\"url\" must be a text"},
      {R"({"status": "OK", "colour": "red"})", "unknown key \"colour\""},
      {R"(["OK"])", "expected a JSON object"},
      {R"({"status": )", "Error: "},
  };
  for (const Bad& b : bad) {
    const std::string error = server.SetRule(5, b.rule);
    EXPECT_EQ(error.rfind("rule for game 5: ", 0), 0u) << b.rule << ": " << error;
    EXPECT_NE(error.find(b.error), std::string::npos) << b.rule << ": " << error;
  }
  EXPECT_EQ(ToJsonText(server.Rules()), "{}");

  ASSERT_EQ(server.SetRule(7, R"({"status": "BAD_REQUEST", "delayMs": 0, "url": "x"})"), "");
  ASSERT_EQ(server.SetRule(6, R"({"noAnswer": true, "error": "e"})"), "");
  EXPECT_EQ(
      ToJsonText(server.Rules()),
      R"({"6":{"error":"e","noAnswer":true},"7":{"delayMs":0,"status":"BAD_REQUEST","url":"x"}})");
  EXPECT_TRUE(server.RemoveRule(6));
  EXPECT_FALSE(server.RemoveRule(6));
  EXPECT_EQ(ToJsonText(server.Rules()), R"({"7":{"delayMs":0,"status":"BAD_REQUEST","url":"x"}})");

  for (uint64_t gameId = 100; server.Rules().size() < GameServer::kMaxRules; ++gameId) {
    ASSERT_EQ(server.SetRule(gameId, "{}"), "");
  }
  EXPECT_NE(server.SetRule(1, "{}").find("rules already"), std::string::npos);
  EXPECT_EQ(server.SetRule(7, "{}"), "");  // replacing one is still allowed
}

TEST_F(GameServerTest, FileForServesPlainNamesOfTheServerFolderOnly) {
  const std::string folder = workspace.ServerFolder();
  fs::create_directory(folder + "/sub");
  fs::create_symlink("../host-resources.json", folder + "/out.trec");
  fs::create_symlink("NA1-6001.trec", folder + "/in.trec");
  ASSERT_EQ(::mkfifo((folder + "/fifo.trec").c_str(), 0600), 0);
  struct Case {
    std::string name;
    bool served;
  };
  const Case cases[] = {
      {"NA1-6001.trec", true},
      {"in.trec", true},
      {"", false},
      {".", false},
      {"..", false},
      {"../host-resources.json", false},
      {"sub/../NA1-6001.trec", false},
      {"..\\host-resources.json", false},
      {std::string("NA1-6001.trec\0x", 15), false},
      {"NA1-9999.trec", false},
      {"sub", false},
      {"out.trec", false},
      {"fifo.trec", false},
      {folder + "/NA1-6001.trec", false},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> path = server.FileFor(c.name);
    EXPECT_EQ(path.has_value(), c.served) << c.name;
    if (path) {
      EXPECT_EQ(*path, folder + "/" + c.name);
    }
  }
  EXPECT_EQ(PercentEncode("NA 1?#/%é-._~"), "NA%201%3F%23%2F%25%C3%A9-._~");
}

}  // namespace
}  // namespace Zorv::Host
