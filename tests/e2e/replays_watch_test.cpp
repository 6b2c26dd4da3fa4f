// The watch action through the real library: a game whose replay is not on
// disk, and bad input. (Launches need a replay file in the record, which only
// a configured replay folder gives; tests/replays/plugin covers them.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/json_writer.h"
#include "host/plugin_host.h"

namespace Zorv::Host {
namespace {

using Strings = std::vector<std::string>;

constexpr char kLaunchingEvent[] = "/telemetry/v1/events/tnk-be-pex-replays.launchingReplay";

class ReplaysWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.Load(PEX_REPLAYS_PATH), "");
    ASSERT_TRUE(host.Initialize());
    host.SetResource("/pex-settings/v1/local/pex-replays",
                     R"({"data":{"highlights-folder-path":"C:/H"}})");
    host.RunPending();
    // The module reads the resources it follows while it starts; what comes
    // later is the watch's own doing.
    callsAtStart = host.Resources().Calls().size();
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
  EndpointAnswer Watch(const std::string& gameId, const std::string& body) {
    return Post("/pex-replays/v1/trecs/" + gameId + "/watch", body);
  }
  // "level message" of every line logged since `from`.
  Strings Lines(size_t from) const {
    Strings lines;
    for (size_t i = from; i < host.Logs().size(); ++i) {
      lines.push_back(std::to_string(host.Logs()[i].level) + " " + host.Logs()[i].message);
    }
    return lines;
  }
  // "step sequence componentType gameId[: response]" of every launching metric.
  Strings LaunchingMetrics() {
    Strings steps;
    for (const CallRequest& call : host.Resources().Calls()) {
      if (call.url != kLaunchingEvent) continue;
      const BindingProperty& fields = call.arguments.at(0);
      std::string step;
      for (const char* key : {"step", "sequence", "componentType"}) {
        step += std::string(fields.find(key).asString()) + " ";
      }
      step += fields.find("gameId").asString();
      if (!fields.find("response").isEmpty()) {
        step += ": ";
        step += fields.find("response").asString();
      }
      steps.push_back(step);
    }
    return steps;
  }
  // "name payload" of every event published under a metadata URL.
  Strings MetadataEvents() const {
    Strings events;
    for (const PublishedEvent& event : host.Events()) {
      if (event.name.rfind("/pex-replays/v1/metadata/", 0) != 0) continue;
      events.push_back(event.name + " " + ToJsonText(event.payload));
    }
    return events;
  }
  // Calls of the launch and of the settings since start-up: after it, only a
  // launch makes them.
  size_t LaunchCalls() {
    size_t count = 0;
    const auto& calls = host.Resources().Calls();
    for (size_t i = callsAtStart; i < calls.size(); ++i) {
      const CallRequest& call = calls[i];
      count += call.url == "/pex-gameflow/v1/watch/launch" ||
                       call.url == "/pex-settings/v1/local/pex-replays"
                   ? 1
                   : 0;
    }
    return count;
  }
  int StatusOf(const std::string& gameId) {
    return host.CallModule(HOST_METHOD_GET, "/pex-replays/v1/metadata/" + gameId).status;
  }

  PluginHost host;
  size_t callsAtStart = 0;
};

TEST_F(ReplaysWatchTest, AGameWithoutARecordIsReportedMissingAndGetsNoRecord) {
  const size_t logged = host.Logs().size();
  const EndpointAnswer answer = Watch("77", R"({"componentType":"match-history"})");
  ASSERT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(Lines(logged),
            (Strings{
                "0 Plugin handling Replay '77' player action, WATCH, componentType=match-history",
                "1 Plugin encountered missing Replay '77', resetting its metadata",
            }));
  EXPECT_EQ(LaunchingMetrics(),
            (Strings{
                "click 1 match-history 77",
                "processing-anomaly 1 match-history 77: Plugin encountered missing Replay (77), "
                "resetting its metadata",
            }));
  EXPECT_EQ(StatusOf("77"), 404);
  EXPECT_TRUE(MetadataEvents().empty());
  EXPECT_EQ(LaunchCalls(), 0u);
  EXPECT_TRUE(host.Faults().empty());
}

TEST_F(ReplaysWatchTest, AGameWithARecordButNoReplayFileGoesBackToDownload) {
  ASSERT_TRUE(Post("/pex-replays/v2/metadata/42/create", R"({"gameVersion":"10.5.1.2"})").ok);
  ASSERT_TRUE(Post("/pex-replays/v1/trecs/42/download", R"({"componentType":"eog"})").ok);
  const size_t events = MetadataEvents().size();
  const size_t logged = host.Logs().size();

  ASSERT_TRUE(Watch("42", R"({"componentType":"match-history"})").ok);
  EXPECT_EQ(Lines(logged),
            (Strings{
                "0 Plugin handling Replay '42' player action, WATCH, componentType=match-history",
                "1 Plugin encountered missing Replay '42', resetting its metadata",
                "0 MetadataStore: update Replay '42', state->Download, trecPath->''",
            }));
  const Strings published = MetadataEvents();
  EXPECT_EQ(
      Strings(published.begin() + static_cast<std::ptrdiff_t>(events), published.end()),
      (Strings{
          R"(/pex-replays/v1/metadata/42 {"downloadProgress":0,"gameId":42,"state":"download"})",
      }));
  // The download's click was sequence 1; the watch starts sequence 2.
  EXPECT_EQ(LaunchingMetrics(),
            (Strings{
                "click 2 match-history 42",
                "processing-anomaly 2 match-history 42: Plugin encountered missing Replay (42), "
                "resetting its metadata",
            }));
  EXPECT_EQ(LaunchCalls(), 0u);
}

TEST_F(ReplaysWatchTest, BadInputIsRefusedOrHarmless) {
  struct Case {
    const char* name;
    std::string gameId;
    std::string body;
    int status;
  };
  const Case cases[] = {
      {"id not a number", "abc", "{}", 400},
      {"negative id", "-1", "{}", 400},
      {"id past 64 bits", "18446744073709551616", "{}", 400},
      {"id with a tail", "12x", "{}", 400},
      {"body an array", "9", "[1,2]", 400},
      {"body a text", "9", R"("x")", 400},
      {"component type of the wrong kind", "9", R"({"componentType":{"a":1}})", 400},
      {"body not JSON", "9", "{", 400},
      {"placeholders in the component type", "10", R"({"componentType":"%s%n%99999d"})", 200},
      {"a very long component type", "11",
       R"({"componentType":")" + std::string(100000, 'c') + R"("})", 200},
      {"the highest id", "18446744073709551615", "{}", 200},
      {"id zero", "0", "{}", 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const EndpointAnswer answer = Watch(c.gameId, c.body);
    EXPECT_TRUE(answer.found);
    EXPECT_EQ(answer.status, c.status) << answer.error;
  }
  for (const char* gameId : {"9", "10", "11", "12", "18446744073709551615", "0"}) {
    EXPECT_EQ(StatusOf(gameId), 404) << gameId;
  }
  EXPECT_TRUE(host.LogContains("Plugin encountered missing Replay '18446744073709551615'"));
  EXPECT_TRUE(host.LogContains("componentType=%s%n%99999d"));
  EXPECT_TRUE(MetadataEvents().empty());
  EXPECT_EQ(LaunchingMetrics().size(), 8u) << "a click and an anomaly per watch that ran";
  EXPECT_EQ(LaunchCalls(), 0u);
  EXPECT_TRUE(host.Faults().empty());
}

}  // namespace
}  // namespace Zorv::Host
