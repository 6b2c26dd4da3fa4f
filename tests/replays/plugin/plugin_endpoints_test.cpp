// The metadata handlers on the plug-in object: what a create copies into the
// game's record, what the handlers log (level, categories, text) and what a
// metadata change publishes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/json_writer.h"
#include "logging/logger_api.h"
#include "plugin_harness.h"
#include "support/capture_log_target.h"

namespace Zorv::Client::Replays {
namespace {

using Testing::HarnessPlugin;

class PluginEndpointsTest : public ::testing::Test {
 protected:
  PluginEndpointsTest() {
    api->acquire();
    api->setLevel(0);
    api->setSuppressedCategories(0, 0);
    capture.attach();
  }
  ~PluginEndpointsTest() override { api->release(); }

  // A record that already knows everything a create can say.
  ReplayRecord& Seed(uint64_t gameId) {
    ReplayRecord& record = plugin.metadataStore()->GetOrCreateRecord(gameId);
    record.gameVersion = "10.5.1.2";
    record.gameType = "CLASSIC";
    record.queueId = 420;
    record.gameEnd = 1000;
    return record;
  }
  // The plug-in's lines as "LEVEL| CATEGORIES| message".
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (std::string line : capture.lines()) {
      line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  // "name type payload" of every published event; the decoded payload lists
  // its keys sorted.
  std::vector<std::string> Events() const {
    std::vector<std::string> events;
    for (const HarnessPlugin::Event& event : plugin.events) {
      events.push_back(event.name + " " + std::to_string(event.eventType) + " " +
                       ToJsonText(event.payload));
    }
    return events;
  }

  const LoggerApi* api = GetLoggerApi();
  Zorv::Testing::CaptureLogTarget capture;
  HarnessPlugin plugin;
};

TEST_F(PluginEndpointsTest, CreateCopiesOnlyWhatTheRequestKnows) {
  struct Case {
    const char* name;
    Api::ReplayCreateMetadata request;
    const char* gameVersion;
    const char* gameType;
    int32_t queueId;
    uint64_t gameEnd;
  };
  const Case cases[] = {
      {"nothing known", {"unknown_version", "", -1, 0}, "10.5.1.2", "CLASSIC", 420, 30},
      {"everything known", {"10.6.1.1", "ARAM", 450, 5000}, "10.6.1.1", "ARAM", 450, 5000},
      {"an empty version clears it", {"", "", -1, 7}, "", "CLASSIC", 420, 7},
      {"only the queue", {"unknown_version", "", 0, 1}, "10.5.1.2", "CLASSIC", 0, 1},
  };
  uint64_t gameId = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Seed(++gameId);
    plugin.CreateMetadata(gameId, c.request);
    const ReplayRecord& record = *plugin.metadataStore()->FindRecord(gameId);
    EXPECT_EQ(record.gameVersion, c.gameVersion);
    EXPECT_EQ(record.gameType, c.gameType);
    EXPECT_EQ(record.queueId, c.queueId);
    EXPECT_EQ(record.gameEnd, c.gameEnd);
  }

  // The first version of the endpoint takes its values from the path and
  // never knows the game's end.
  Seed(7).gameEnd = 123456;
  plugin.CreateMetadataV1(7, "unknown_version", "", -1);
  const ReplayRecord& record = *plugin.metadataStore()->FindRecord(7);
  EXPECT_EQ(record.gameVersion, "10.5.1.2");
  EXPECT_EQ(record.gameType, "CLASSIC");
  EXPECT_EQ(record.queueId, 420);
  EXPECT_EQ(record.gameEnd, 30u);
  plugin.CreateMetadataV1(8, "10.5.1.2", "TUTORIAL_GAME", 430);
  EXPECT_EQ(plugin.metadataStore()->FindRecord(8)->metadata.state, Api::MetadataState::unsupported);
}

TEST_F(PluginEndpointsTest, CreateRecomputesTheStateAndPublishesOnlyAChange) {
  plugin.mutableConfiguration().gameVersion = "10.6.1.1";
  plugin.CreateMetadata(1, {"unknown_version", "", -1, 0});  // still download: nothing to tell
  plugin.CreateMetadata(2, {"unknown_version", "TUTORIAL_GAME", 420, 0});
  plugin.CreateMetadata(2, {"unknown_version", "TUTORIAL_GAME", 420, 0});  // unchanged
  plugin.CreateMetadata(3, {"10.5.1.2", "CLASSIC", -1, 0});
  plugin.CreateMetadata(4, {"10.6.2.2", "TUTORIAL_GAME", -1, 0});
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          "OnJsonApiEvent_pex-replays_v1_metadata 1 "
                          R"({"downloadProgress":0,"gameId":2,"state":"unsupported"})",
                          "/pex-replays/v1/metadata/2 1 "
                          R"({"downloadProgress":0,"gameId":2,"state":"unsupported"})",
                          "OnJsonApiEvent_pex-replays_v1_metadata 1 "
                          R"({"downloadProgress":0,"gameId":3,"state":"incompatible"})",
                          "/pex-replays/v1/metadata/3 1 "
                          R"({"downloadProgress":0,"gameId":3,"state":"incompatible"})",
                      }));
  EXPECT_EQ(plugin.metadataStore()->FindRecord(4)->metadata.state, Api::MetadataState::download);
}

TEST_F(PluginEndpointsTest, HandlersLogTheirLines) {
  plugin.GetConfiguration();
  EXPECT_FALSE(plugin.GetMetadata(9).ok());
  EXPECT_EQ(plugin.metadataStore()->FindRecord(9), nullptr) << "a lookup creates no record";
  plugin.CreateMetadata(9, {"unknown_version", "TUTORIAL_GAME", 420, 0});
  ASSERT_TRUE(plugin.GetMetadata(9).ok());
  EXPECT_EQ(
      Lines(),
      (std::vector<std::string>{
          "  OKAY| DBG;XTR| Getting replays configuration",
          "  OKAY| DBG;XTR| Plugin handling Replay '9' GET METADATA",
          "  OKAY| DBG;XTR| MetadataStore: metadata for game '9' not found in cache",
          "  WARN| DBG| Plugin found no local metadata for Replay '9'",
          "  OKAY| GEN| Plugin handling Replay '9' CREATE METADATA",
          "  OKAY| DBG;XTR| MetadataStore: update Replay '9', state->Download",
          "  OKAY| DBG;XTR| MetadataStore: update Replay '9', state->Unsupported",
          "  OKAY| DBG;XTR| Plugin notifying about updated metadata: { unsupported, 9, 0% }",
          "  OKAY| DBG;XTR| Plugin handling Replay '9' GET METADATA",
          "  OKAY| DBG;XTR| MetadataStore: metadata for game '9' found in cache",
          "  OKAY| DBG;XTR| Plugin found local metadata for Replay '9': { unsupported, 9, 0% }",
      }));
}

TEST_F(PluginEndpointsTest, GetAnswersTheRecordsPublicStateOrNotFound) {
  const MaybeType<Failure, Api::ReplayMetadata> missing = plugin.GetMetadata(18446744073709551615u);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.failure().code, 404);
  EXPECT_EQ(missing.failure().message,
            "Plugin found no local metadata. Try using the POST metadata create endpoint first.");

  ReplayRecord& record = plugin.metadataStore()->GetOrCreateRecord(18446744073709551615u);
  record.metadata.state = Api::MetadataState::downloading;
  record.metadata.downloadProgress = 100;
  const MaybeType<Failure, Api::ReplayMetadata> found = plugin.GetMetadata(18446744073709551615u);
  ASSERT_TRUE(found.ok());
  EXPECT_EQ(found.value().state, Api::MetadataState::downloading);
  EXPECT_EQ(found.value().gameId, 18446744073709551615u);
  EXPECT_EQ(found.value().downloadProgress, 100u);
  EXPECT_TRUE(plugin.events.empty()) << "reading publishes nothing";
}

TEST_F(PluginEndpointsTest, TheStoreJudgesCompatibilityByTheLiveConfiguration) {
  ReplayRecord& record = plugin.metadataStore()->GetOrCreateRecord(5);
  record.gameVersion = "10.5.1.2";
  plugin.mutableConfiguration().gameVersion = "10.6.0.0";
  plugin.metadataStore()->UpdateMetadataState(record, false, false);
  EXPECT_EQ(record.metadata.state, Api::MetadataState::incompatible);
  plugin.mutableConfiguration().gameVersion = "10.5.9.9";
  plugin.metadataStore()->UpdateMetadataState(record, false, false);
  EXPECT_EQ(record.metadata.state, Api::MetadataState::download);
}

}  // namespace
}  // namespace Zorv::Client::Replays
