// The replays plug-in's metadata endpoints through the real library: the
// endpoint table it describes, creating and reading game records, the events
// that publish them, bad input, and the server lookup that a download starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "host/plugin_host.h"
#include "replays/store/default_trec_path.h"

namespace Zorv::Host {
namespace {

constexpr char kMetadataPrefix[] = "/pex-replays/v1/metadata/";

class ReplaysMetadataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.Load(PEX_REPLAYS_PATH), "");
    ASSERT_TRUE(host.Initialize());
  }

  EndpointAnswer Post(const std::string& url, const std::string& body,
                      const std::string& contentType = "application/json") {
    EndpointCall call;
    call.method = HOST_METHOD_POST;
    call.url = url;
    call.contentType = contentType;
    call.body = body;
    call.hasBody = true;
    return host.CallModule(call);
  }
  EndpointAnswer Create(const std::string& gameId, const std::string& body) {
    return Post("/pex-replays/v2/metadata/" + gameId + "/create", body);
  }
  EndpointAnswer GetMetadata(const std::string& gameId) {
    return host.CallModule(HOST_METHOD_GET, kMetadataPrefix + gameId);
  }
  // The state a GET answers, or its status when it fails.
  std::string StateOf(const std::string& gameId) {
    const EndpointAnswer answer = GetMetadata(gameId);
    return answer.ok ? std::string(answer.value.find("state").asString())
                     : std::to_string(answer.status);
  }
  // "url type payload" of every metadata event published so far, in order.
  std::vector<std::string> MetadataEvents() const {
    std::vector<std::string> events;
    for (const PublishedEvent& event : host.Events()) {
      if (event.name.rfind(kMetadataPrefix, 0) != 0) continue;
      events.push_back(event.name + " " + std::to_string(event.eventType) + " " +
                       ToJsonText(event.payload));
    }
    return events;
  }
  // Messages the plug-in logged at `level` since `from`, in order.
  std::vector<std::string> Messages(int32_t level, size_t from = 0) const {
    std::vector<std::string> messages;
    for (size_t i = from; i < host.Logs().size(); ++i) {
      if (host.Logs()[i].level == level) messages.push_back(host.Logs()[i].message);
    }
    return messages;
  }
  // "step response" of every telemetry event of the download journey.
  std::vector<std::string> DownloadMetrics() {
    std::vector<std::string> steps;
    for (const CallRequest& call : host.Resources().Calls()) {
      if (call.url != "/telemetry/v1/events/tnk-be-pex-replays.downloadingReplay") continue;
      const BindingProperty& fields = call.arguments.at(0);
      std::string step(fields.find("step").asString());
      if (!fields.find("response").isEmpty()) {
        step += " ";
        step += fields.find("response").asString();
      }
      steps.push_back(step);
    }
    return steps;
  }

  PluginHost host;
};

// ---- The API ------------------------------------------------------------------------------------

TEST_F(ReplaysMetadataTest, RightAfterLoadTheConfigurationHoldsItsDefaults) {
  const EndpointAnswer answer = host.CallModule(HOST_METHOD_GET, "/pex-replays/v1/configuration");
  ASSERT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(ToJsonText(answer.value),
            R"({"gameVersion":"","isInTournament":false,"isLoggedIn":false,"isPatching":false,)"
            R"("isPlayingGame":false,"isPlayingReplay":false,"isReplaysEnabled":false,)"
            R"("isReplaysForEndOfGameEnabled":false,"isReplaysForMatchHistoryEnabled":false,)"
            R"("minServerVersion":"","minutesUntilReplayConsideredLost":30.0})");
  // No settings resource yet: no folder. The default is the documents folder's.
  const EndpointAnswer path = host.CallModule(HOST_METHOD_GET, "/pex-replays/v1/trecs/path");
  ASSERT_TRUE(path.ok) << path.error;
  EXPECT_EQ(ToJsonText(path.value), R"("")");
  const EndpointAnswer defaultPath =
      host.CallModule(HOST_METHOD_GET, "/pex-replays/v1/trecs/path/default");
  ASSERT_TRUE(defaultPath.ok) << defaultPath.error;
  EXPECT_EQ(defaultPath.value.asString(), Client::Replays::DefaultTrecPath());
  EXPECT_TRUE(host.Faults().empty());
}

TEST_F(ReplaysMetadataTest, TheDescriptionListsTheTenEndpointsWithTheirArguments) {
  const ModuleApi api = host.ListModuleApi();
  std::vector<std::string> functions;
  for (const ModuleFunction& function : api.functions) {
    std::string text = (function.method == HOST_METHOD_GET ? "GET " : "POST ") +
                       function.pathTemplate + " ->" + function.resultTypeName;
    for (const ModuleArgument& argument : function.arguments) {
      text += " " + argument.name + (argument.location == ARGUMENT_LOCATION_BODY ? "(body)" : "") +
              ":" + argument.typeName;
    }
    functions.push_back(text);
  }
  EXPECT_EQ(functions, (std::vector<std::string>{
                           "GET /pex-replays/v1/configuration ->PexReplaysReplaysConfiguration",
                           "POST /pex-replays/v1/metadata/{gameId}/create/gameVersion/"
                           "{gameVersion}/gameType/{gameType}/queueId/{queueId} -> gameId:uint64 "
                           "gameVersion:string gameType:string queueId:int32",
                           "POST /pex-replays/v2/metadata/{gameId}/create -> gameId:uint64 "
                           "request(body):PexReplaysReplayCreateMetadata",
                           "GET /pex-replays/v1/metadata/{gameId} ->PexReplaysReplayMetadata "
                           "gameId:uint64",
                           "POST /pex-replays/v1/trecs/{gameId}/download -> gameId:uint64 "
                           "contextData(body):PexReplaysReplayContextData",
                           "POST /pex-replays/v1/trecs/{gameId}/download/graceful -> "
                           "gameId:uint64 contextData(body):PexReplaysReplayContextData",
                           "POST /pex-replays/v1/trecs/scan ->",
                           "GET /pex-replays/v1/trecs/path ->string",
                           "GET /pex-replays/v1/trecs/path/default ->string",
                           "POST /pex-replays/v1/trecs/{gameId}/watch -> gameId:uint64 "
                           "contextData(body):PexReplaysReplayContextData",
                       }));
  for (const char* type : {"PexReplaysReplaysConfiguration", "PexReplaysMetadataState",
                           "PexReplaysReplaysSettingsResource", "ReplayResponseStatus",
                           "MultipleReplayMetadataRequestV2", "DownloadUrlResponseV2"}) {
    EXPECT_NE(api.FindType(type), nullptr) << type;
  }
}

// ---- Create and read ----------------------------------------------------------------------------

TEST_F(ReplaysMetadataTest, GetOfAnUnknownGameAnswersNotFoundAndCreatesNothing) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const size_t logged = host.Logs().size();
    const EndpointAnswer answer = GetMetadata("77");
    EXPECT_TRUE(answer.found);
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.error,
              "Plugin found no local metadata. Try using the POST metadata create endpoint first.");
    EXPECT_EQ(Messages(1, logged),
              (std::vector<std::string>{"Plugin found no local metadata for Replay '77'"}));
  }
  EXPECT_TRUE(MetadataEvents().empty());
}

TEST_F(ReplaysMetadataTest, CreateMakesARecordThatGetReads) {
  const size_t logged = host.Logs().size();
  EndpointAnswer answer = Create("42", R"({"gameVersion":"10.5.1.2","gameType":"CLASSIC"})");
  ASSERT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(Messages(0, logged),
            (std::vector<std::string>{"Plugin handling Replay '42' CREATE METADATA"}));
  answer = GetMetadata("42");
  ASSERT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(ToJsonText(answer.value), R"({"downloadProgress":0,"gameId":42,"state":"download"})");
  EXPECT_TRUE(MetadataEvents().empty()) << "a new record in download is no change";

  answer = host.CallModule(HOST_METHOD_POST,
                           "/pex-replays/v1/metadata/43/create/gameVersion/10.5.1.2/gameType/"
                           "CLASSIC/queueId/420");
  ASSERT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(StateOf("43"), "download");
}

TEST_F(ReplaysMetadataTest, UnsupportedGamesArePublishedAsTheyAreCreated) {
  ASSERT_TRUE(Create("5", R"({"gameType":"TUTORIAL_GAME","queueId":420})").ok);
  ASSERT_TRUE(Create("6", R"({"gameType":"TUTORIAL_GAME"})").ok) << "no queue: not judged";
  ASSERT_TRUE(host.CallModule(HOST_METHOD_POST,
                              "/pex-replays/v1/metadata/7/create/gameVersion/unknown_version/"
                              "gameType/CLASSIC/queueId/850")
                  .ok);
  ASSERT_TRUE(Create("5", R"({"gameType":"CLASSIC"})").ok) << "queue 420 of CLASSIC is fine";
  EXPECT_EQ(
      MetadataEvents(),
      (std::vector<std::string>{
          R"(/pex-replays/v1/metadata/5 1 {"downloadProgress":0,"gameId":5,"state":"unsupported"})",
          R"(/pex-replays/v1/metadata/7 1 {"downloadProgress":0,"gameId":7,"state":"unsupported"})",
          R"(/pex-replays/v1/metadata/5 1 {"downloadProgress":0,"gameId":5,"state":"download"})",
      }));
  // Each change also goes out under the grouped event of the metadata resource.
  size_t grouped = 0;
  for (const PublishedEvent& event : host.Events()) {
    grouped += event.name == "OnJsonApiEvent_pex-replays_v1_metadata" ? 1 : 0;
  }
  EXPECT_EQ(grouped, 3u);
  EXPECT_EQ(StateOf("6"), "download");
}

TEST_F(ReplaysMetadataTest, BadInputIsRefusedBeforeAnyRecordExists) {
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  std::string large = "[0";
  for (int i = 0; i < 1500000; ++i) large += ",0";
  large += "]";
  struct Case {
    const char* name;
    uint32_t method;
    std::string url;
    std::string body;  // none when empty
  };
  const Case cases[] = {
      {"id not a number", HOST_METHOD_POST, "/pex-replays/v2/metadata/abc/create", "{}"},
      {"negative id", HOST_METHOD_POST, "/pex-replays/v2/metadata/-1/create", "{}"},
      {"id past 64 bits", HOST_METHOD_POST, "/pex-replays/v2/metadata/18446744073709551616/create",
       "{}"},
      {"id with a tail", HOST_METHOD_POST, "/pex-replays/v2/metadata/12x/create", "{}"},
      {"v1 queue not a number", HOST_METHOD_POST,
       "/pex-replays/v1/metadata/9/create/gameVersion/1/gameType/T/queueId/q", ""},
      {"v1 queue past 32 bits", HOST_METHOD_POST,
       "/pex-replays/v1/metadata/9/create/gameVersion/1/gameType/T/queueId/2147483648", ""},
      {"get id not a number", HOST_METHOD_GET, "/pex-replays/v1/metadata/abc", ""},
      {"body an array", HOST_METHOD_POST, "/pex-replays/v2/metadata/9/create", "[1,2]"},
      {"body a text", HOST_METHOD_POST, "/pex-replays/v2/metadata/9/create", R"("x")"},
      {"field of the wrong kind", HOST_METHOD_POST, "/pex-replays/v2/metadata/9/create",
       R"({"queueId":{"value":420}})"},
      {"body not JSON", HOST_METHOD_POST, "/pex-replays/v2/metadata/9/create", "{"},
      {"body of several megabytes", HOST_METHOD_POST, "/pex-replays/v2/metadata/9/create", large},
      {"deeply nested body", HOST_METHOD_POST, "/pex-replays/v2/metadata/9/create", deep},
      {"download id not a number", HOST_METHOD_POST, "/pex-replays/v1/trecs/x/download", "{}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EndpointCall call;
    call.method = c.method;
    call.url = c.url;
    if (!c.body.empty()) {
      call.contentType = "application/json";
      call.body = c.body;
      call.hasBody = true;
    }
    const EndpointAnswer answer = host.CallModule(call);
    EXPECT_TRUE(answer.found);
    EXPECT_FALSE(answer.ok);
    EXPECT_EQ(answer.status, 400) << answer.error;
  }
  for (const char* gameId : {"9", "12", "18446744073709551615", "0"}) {
    EXPECT_EQ(StateOf(gameId), "404") << gameId;
  }
  EXPECT_TRUE(MetadataEvents().empty());
  EXPECT_TRUE(host.ServiceProxy().Requests().empty());
  EXPECT_TRUE(host.Faults().empty());
}

// ---- The server lookup --------------------------------------------------------------------------

TEST_F(ReplaysMetadataTest, ADownloadLooksTheGameUpOnTheServer) {
  host.ServiceProxy().Answer(
      "replays.retrieval", "getMultipleMetadata",
      ServiceAnswer::Payload(
          R"({"metadataResponses":[{"gameId":8,"status":"OK","metadata":{"gameVersion":"10.5.1.2","fileSize":9}}]})"));
  const size_t logged = host.Logs().size();
  const EndpointAnswer answer =
      Post("/pex-replays/v1/trecs/8/download", R"({"componentType":"match-history"})");
  ASSERT_TRUE(answer.ok) << answer.error;
  host.RunPending();

  ASSERT_EQ(host.ServiceProxy().Requests().size(), 1u);
  EXPECT_EQ(host.ServiceProxy().Requests()[0].serviceName, "replays.retrieval");
  EXPECT_EQ(host.ServiceProxy().Requests()[0].methodName, "getMultipleMetadata");
  // No login data yet: the platform id is empty.
  const BindingResult request = FromJsonText(host.ServiceProxy().Requests()[0].payload);
  ASSERT_TRUE(request.success);
  EXPECT_EQ(request.value.find("platformId").asString(), "");
  EXPECT_EQ(ToJsonText(request.value.find("gameIds")), "[8]");
  EXPECT_EQ(request.value.size(), 2u);
  EXPECT_EQ(
      MetadataEvents(),
      (std::vector<std::string>{
          R"(/pex-replays/v1/metadata/8 1 {"downloadProgress":0,"gameId":8,"state":"checking"})",
          R"(/pex-replays/v1/metadata/8 1 {"downloadProgress":0,"gameId":8,"state":"found"})",
      }));
  const std::vector<std::string> okay = Messages(0, logged);
  for (const char* line :
       {"Plugin handling Replay '8' player action, DOWNLOAD, componentType=match-history",
        "Plugin server request, LCDS retrieve metadata for game '8'",
        "Plugin server response OK, LCDS retrieve metadata for game '8': response=ok"}) {
    EXPECT_NE(std::find(okay.begin(), okay.end(), line), okay.end()) << line;
  }
  EXPECT_TRUE(Messages(1, logged).empty());
  EXPECT_EQ(DownloadMetrics(),
            (std::vector<std::string>{"click", "metadata-request", "metadata-response-ok ok"}));
  for (const CallRequest& call : host.Resources().Calls()) {
    // The module also reads the resources it follows; only telemetry carries fields.
    if (call.url.rfind("/telemetry/", 0) != 0) continue;
    const BindingProperty& fields = call.arguments.at(0);
    if (fields.find("step").asString() != "click") continue;
    EXPECT_EQ(fields.find("graceful").asString(), "false");
    EXPECT_EQ(fields.find("componentType").asString(), "match-history");
  }
}

TEST_F(ReplaysMetadataTest, AGracefulDownloadLooksTheGameUpFourSecondsLater) {
  host.ServiceProxy().Answer(
      "replays.retrieval", "getMultipleMetadata",
      ServiceAnswer::Payload(R"({"metadataResponses":[{"gameId":9,"status":"OK"}]})"));
  const size_t logged = host.Logs().size();
  ASSERT_TRUE(Post("/pex-replays/v1/trecs/9/download/graceful", R"({"componentType":"eog"})").ok);
  EXPECT_EQ(Messages(0, logged).at(0),
            "Plugin handling Replay '9' player action, DOWNLOAD GRACEFUL, componentType=eog");
  const CallRequest& click = host.Resources().Calls().back();
  EXPECT_EQ(click.arguments.at(0).find("step").asString(), "click");
  EXPECT_EQ(click.arguments.at(0).find("graceful").asString(), "true");
  EXPECT_EQ(click.arguments.at(0).find("componentType").asString(), "eog");

  host.Advance(std::chrono::milliseconds(3999));
  EXPECT_TRUE(host.ServiceProxy().Requests().empty());
  EXPECT_EQ(StateOf("9"), "checking");
  host.Advance(std::chrono::milliseconds(1));
  EXPECT_EQ(host.ServiceProxy().Requests().size(), 1u);
  EXPECT_EQ(StateOf("9"), "found");
}

TEST_F(ReplaysMetadataTest, LookupOutcomesDecideTheRecordsState) {
  struct Case {
    const char* name;
    ServiceAnswer answer;
    const char* createBody;  // before the download
    const char* state;
    std::vector<std::string> warnings;
    std::string lastMetric;
  };
  const auto items = [](const char* status) {
    return std::string(R"({"metadataResponses":[{"gameId":1,"status":")") + status +
           R"(","metadata":{"gameVersion":"","fileSize":0}},{"gameId":2,"status":"OK"}]})";
  };
  const Case cases[] = {
      {"first item expired",
       ServiceAnswer::Payload(items("EXPIRED")),
       "{}",
       "missingOrExpired",
       {},
       "metadata-response-ok expired"},
      {"not found, game ended long ago",
       ServiceAnswer::Payload(items("NOT_FOUND")),
       R"({"gameEnd":0})",
       "lost",
       {},
       "metadata-response-ok notFound"},
      {"not found, game ends in the future",
       ServiceAnswer::Payload(items("NOT_FOUND")),
       R"({"gameEnd":4102444800000})",
       "retryDownload",
       {},
       "metadata-response-ok notFound"},
      {"first item answers a server error",
       ServiceAnswer::Payload(items("INTERNAL_SERVER_ERROR")),
       "{}",
       "error",
       {},
       "metadata-response-ok internalServerError"},
      {"first item answers a bad request: the record stays as it was",
       ServiceAnswer::Payload(items("BAD_REQUEST")),
       "{}",
       "checking",
       {},
       "metadata-response-ok badRequest"},
      {"server error",
       ServiceAnswer::Error("server down"),
       "{}",
       "error",
       {"Plugin server response ERROR, LCDS retrieve metadata for game '%': code=0",
        "MetadataStore: replays metadata request for game '%' failed with error code '0'"},
       "metadata-response-error server down"},
      {"empty answer",
       ServiceAnswer::Payload(R"({"metadataResponses":[]})"),
       "{}",
       "error",
       {"Plugin server response OK, LCDS retrieve metadata for game '%': empty response",
        "MetadataStore: replays metadata request for game '%' failed with error code '0'"},
       "metadata-response-ok Failed with empty response"},
      {"answer of the wrong shape",
       ServiceAnswer::Payload(R"({"metadataResponses":7})"),
       "{}",
       "error",
       {"Plugin server response ERROR, LCDS retrieve metadata for game '%': code=0",
        "MetadataStore: replays metadata request for game '%' failed with error code '0'"},
       "metadata-response-error Failed to deserialize response payload"},
  };
  int gameId = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string id = std::to_string(++gameId);
    host.ServiceProxy().Answer("replays.retrieval", "getMultipleMetadata", c.answer);
    ASSERT_TRUE(Create(id, c.createBody).ok);
    const size_t logged = host.Logs().size();
    ASSERT_TRUE(Post("/pex-replays/v1/trecs/" + id + "/download", "{}").ok);
    host.RunPending();
    EXPECT_EQ(StateOf(id), c.state);
    std::vector<std::string> warnings;
    for (std::string line : c.warnings) warnings.push_back(line.replace(line.find('%'), 1, id));
    EXPECT_EQ(Messages(1, logged), warnings);
    const std::string lastMetric = DownloadMetrics().back();
    EXPECT_EQ(lastMetric.substr(0, c.lastMetric.size()), c.lastMetric);
  }
  EXPECT_TRUE(host.Faults().empty());
}

}  // namespace
}  // namespace Zorv::Host
