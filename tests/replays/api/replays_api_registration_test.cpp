#include "replays/api/replays_api_registration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "binding/conversion.h"
#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "binding/type_registry.h"
#include "replays/api/lcds_types.h"
#include "replays/api/replays_types.h"

namespace Zorv::Client::Replays {
namespace {

class ReplaysApiRegistrationTest : public ::testing::Test {
 protected:
  ReplaysApiRegistrationTest() {
    RegisterReplaysApiTypes(registry, "PexReplays");
    lcdsTypes = RegisterLcdsContractTypes(registry);
  }

  // "key:kind" for a field, naming the enum, struct or element type.
  std::string Describe(const TypeIdentifier& type) const {
    if (type.kind == TypeKind::Vector) {
      TypeIdentifier element{type.elementKind, TypeKind::None, type.namedTypeId};
      return std::string("vector<") + Describe(element) + ">";
    }
    std::string text = TypeKindName(type.kind);
    if (type.namedTypeId != 0) {
      const TypeDescriptor* named = registry.findById(type.namedTypeId);
      text += " " + (named ? named->name : std::string("unregistered"));
    }
    return text;
  }
  // The fields as "key:kind", or the enumerators as "spelling=value", in order.
  std::vector<std::string> Contents(const TypeDescriptor& type) const {
    std::vector<std::string> out;
    for (const FieldDescriptor& field : type.fields) {
      EXPECT_EQ(field.description, "") << type.name << "." << field.name;
      EXPECT_EQ(field.flags, 0u) << type.name << "." << field.name;
      out.push_back(field.name + ":" + Describe(field.type));
    }
    for (const EnumValueDescriptor& value : type.values)
      out.push_back(value.name + "=" + std::to_string(value.value));
    return out;
  }

  // Native -> JSON must give `json`; JSON -> native -> JSON must give it again.
  template <typename T>
  void ExpectRoundTrip(const T& value, const std::string& json) {
    const BindingResult written = ToProperty(value, registry);
    ASSERT_TRUE(written.success) << written.error();
    EXPECT_EQ(ToJsonText(written.value, &registry), json);

    const BindingResult parsed = FromJsonText(json);
    ASSERT_TRUE(parsed.success) << parsed.error();
    T back{};
    const BindingResult read = FromProperty(parsed.value, back, "<value>", registry);
    ASSERT_TRUE(read.success) << read.error();
    EXPECT_EQ(ToJsonText(ToProperty(back, registry).value, &registry), json);
  }

  TypeRegistry registry;
  std::vector<LcdsContractType> lcdsTypes;
};

TEST_F(ReplaysApiRegistrationTest, RegistersEveryTypeInOrderWithItsKeysKindsAndSpellings) {
  struct Expected {
    std::string name;
    bool isEnum;
    std::vector<std::string> contents;
  };
  const std::vector<Expected> expected = {
      {"PexReplaysReplaysConfiguration",
       false,
       {"isReplaysEnabled:bool", "isReplaysForEndOfGameEnabled:bool",
        "isReplaysForMatchHistoryEnabled:bool", "isPatching:bool", "isInTournament:bool",
        "isPlayingGame:bool", "isPlayingReplay:bool", "isLoggedIn:bool", "gameVersion:string",
        "minServerVersion:string", "minutesUntilReplayConsideredLost:double"}},
      {"PexReplaysMetadataState",
       true,
       {"checking=0", "found=1", "watch=2", "download=3", "downloading=4", "incompatible=5",
        "missingOrExpired=6", "retryDownload=7", "lost=8", "error=10", "unsupported=9"}},
      {"PexReplaysTrecFileMetadata",
       false,
       {"gameLength:uint32", "gameVersion:string", "lastGameChunkId:uint32",
        "lastKeyFrameId:uint32"}},
      {"PexReplaysReplayCreateMetadata",
       false,
       {"gameVersion:string", "gameType:string", "queueId:int32", "gameEnd:uint64"}},
      {"PexReplaysReplayMetadata",
       false,
       {"state:enum PexReplaysMetadataState", "gameId:uint64", "downloadProgress:uint32"}},
      {"PexReplaysReplayContextData", false, {"componentType:string"}},
      {"PexReplaysReplaysDynamicConfig",
       false,
       {"MinSupportedGameServerVersion:string", "MinutesUntilReplayConsideredLost:double"}},
      {"PexReplaysGameflowAvailability", false, {"state:string"}},
      {"PexReplaysGameflowPhase",
       true,
       {"None=0", "Lobby=1", "Matchmaking=2", "CheckedIntoTournament=3", "ReadyCheck=4",
        "CharacterSelect=5", "GameStart=6", "FailedToLaunch=7", "InProgress=8", "Reconnect=9",
        "WaitingForStats=10", "PreEndOfGame=11", "EndOfGame=12", "TerminatedInError=13"}},
      {"PexReplaysGameflowGameClient", false, {"running:bool"}},
      {"PexReplaysGameflowSession",
       false,
       {"phase:enum PexReplaysGameflowPhase", "gameClient:struct PexReplaysGameflowGameClient"}},
      {"PexReplaysGameflowWatchPhase",
       true,
       {"None=0", "WatchStarted=1", "WatchInProgress=2", "WatchFailedToLaunch=3"}},
      {"PexReplaysSkirraPlaymodeRestrictedInfo", false, {"isRestricted:bool"}},
      {"PexReplaysReplaysSettingsData",
       false,
       {"replays-folder-path:string", "highlights-folder-path:string"}},
      {"PexReplaysReplaysSettingsResource", false, {"data:struct PexReplaysReplaysSettingsData"}},
      {"ReplayResponseStatus",
       true,
       {"OK=0", "NOT_FOUND=1", "EXPIRED=2", "BAD_REQUEST=3", "INTERNAL_SERVER_ERROR=4"}},
      {"ReplayMetadataV2", false, {"gameVersion:string", "fileSize:uint32"}},
      {"MultipleReplayMetadataResponseItemV2",
       false,
       {"gameId:uint64", "status:enum ReplayResponseStatus", "metadata:struct ReplayMetadataV2"}},
      {"MultipleReplayMetadataResponseV2",
       false,
       {"metadataResponses:vector<struct MultipleReplayMetadataResponseItemV2>"}},
      {"MultipleReplayMetadataRequestV2", false, {"platformId:string", "gameIds:vector<uint64>"}},
      {"DownloadUrlRequestV2", false, {"platformId:string", "gameId:uint64"}},
      {"DownloadUrlResponseV2", false, {"url:string"}},
  };

  const std::vector<const TypeDescriptor*> registered = registry.descriptors();
  ASSERT_EQ(registered.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(registered[i]->name, expected[i].name);
    EXPECT_EQ(registered[i]->isEnum, expected[i].isEnum);
    EXPECT_EQ(registered[i]->description, "");
    EXPECT_EQ(Contents(*registered[i]), expected[i].contents);
  }
}

TEST_F(ReplaysApiRegistrationTest, EnumsAreFourBytesAndFindableByTheirNativeType) {
  EXPECT_EQ(registry.findById(StaticTypeId<Api::MetadataState>())->size, 4u);
  EXPECT_EQ(registry.findById(StaticTypeId<Api::GameflowPhase>())->size, 4u);
  EXPECT_EQ(registry.findById(StaticTypeId<Api::GameflowWatchPhase>())->size, 4u);
  EXPECT_EQ(registry.findById(StaticTypeId<LCDS::ReplayResponseStatus>())->size, 4u);
}

TEST_F(ReplaysApiRegistrationTest, ApiTypesFollowTheGivenPrefix) {
  TypeRegistry other;
  RegisterReplaysApiTypes(other, "Other");
  EXPECT_NE(other.findByName("OtherReplayMetadata"), nullptr);
  EXPECT_NE(other.findByName("OtherMetadataState"), nullptr);
  EXPECT_EQ(other.findByName("PexReplaysReplayMetadata"), nullptr);
  EXPECT_EQ(other.findByName("ReplayMetadata"), nullptr);
}

TEST_F(ReplaysApiRegistrationTest, ContractTypesComeWithTheirServerClassNames) {
  std::vector<std::string> pairs;
  for (const LcdsContractType& type : lcdsTypes)
    pairs.push_back(std::string(type.typeName) + " " + std::string(type.className));
  const std::string p = "com.zorvgames.pex.replays.contract.";
  EXPECT_EQ(pairs, (std::vector<std::string>{
                       "ReplayResponseStatus " + p + "ReplayResponseStatus",
                       "ReplayMetadataV2 " + p + "ReplayMetadataV2",
                       "MultipleReplayMetadataResponseItemV2 " + p +
                           "MultipleReplayMetadataResponseItemV2",
                       "MultipleReplayMetadataResponseV2 " + p + "MultipleReplayMetadataResponseV2",
                       "MultipleReplayMetadataRequestV2 " + p + "MultipleReplayMetadataRequestV2",
                       "DownloadUrlRequestV2 " + p + "DownloadUrlRequestV2",
                       "DownloadUrlResponseV2 " + p + "DownloadUrlResponseV2",
                   }));
  for (const LcdsContractType& type : lcdsTypes)
    EXPECT_NE(registry.findByName(type.typeName), nullptr) << type.typeName;
}

TEST_F(ReplaysApiRegistrationTest, EveryTypeRoundTripsThroughJson) {
  using namespace Api;
  using namespace LCDS;
  {
    ReplaysConfiguration c;
    c.isReplaysEnabled = true;
    c.isPlayingReplay = true;
    c.gameVersion = "14.3.562.1";
    c.minServerVersion = "14.1.0.0";
    c.minutesUntilReplayConsideredLost = 12.5;
    ExpectRoundTrip(c, R"({"gameVersion":"14.3.562.1","isInTournament":false,"isLoggedIn":false,)"
                       R"("isPatching":false,"isPlayingGame":false,"isPlayingReplay":true,)"
                       R"("isReplaysEnabled":true,"isReplaysForEndOfGameEnabled":false,)"
                       R"("isReplaysForMatchHistoryEnabled":false,"minServerVersion":"14.1.0.0",)"
                       R"("minutesUntilReplayConsideredLost":12.5})");
  }
  ExpectRoundTrip(TrecFileMetadata{1830000, "14.3.562.1", 4294967295u, 17},
                  R"({"gameLength":1830000,"gameVersion":"14.3.562.1",)"
                  R"("lastGameChunkId":4294967295,"lastKeyFrameId":17})");
  ExpectRoundTrip(ReplayCreateMetadata{"14.3", "CLASSIC", -1, 1700000000123},
                  R"({"gameEnd":1700000000123,"gameType":"CLASSIC","gameVersion":"14.3",)"
                  R"("queueId":-1})");
  ExpectRoundTrip(
      ReplayMetadata{MetadataState::unsupported, 18446744073709551615u, 100},
      R"({"downloadProgress":100,"gameId":18446744073709551615,"state":"unsupported"})");
  ExpectRoundTrip(ReplayMetadata{MetadataState::error, 42, 0},
                  R"({"downloadProgress":0,"gameId":42,"state":"error"})");
  ExpectRoundTrip(ReplayContextData{"match-history"}, R"({"componentType":"match-history"})");
  ExpectRoundTrip(
      ReplaysDynamicConfig{"14.1", 45},
      R"({"MinSupportedGameServerVersion":"14.1","MinutesUntilReplayConsideredLost":45.0})");
  ExpectRoundTrip(GameflowAvailability{"Available"}, R"({"state":"Available"})");
  ExpectRoundTrip(GameflowSession{GameflowPhase::TerminatedInError, {true}},
                  R"({"gameClient":{"running":true},"phase":"TerminatedInError"})");
  ExpectRoundTrip(SkirraPlaymodeRestrictedInfo{true}, R"({"isRestricted":true})");
  ExpectRoundTrip(
      ReplaysSettingsResource{{"/replays", "/highlights"}},
      R"({"data":{"highlights-folder-path":"/highlights","replays-folder-path":"/replays"}})");
  ExpectRoundTrip(MultipleReplayMetadataRequestV2{"NA1", {1, 18446744073709551615u}},
                  R"({"gameIds":[1,18446744073709551615],"platformId":"NA1"})");
  ExpectRoundTrip(
      MultipleReplayMetadataResponseV2{{{7, ReplayResponseStatus::OK, {"14.3", 5000000}},
                                        {8, ReplayResponseStatus::INTERNAL_SERVER_ERROR, {}}}},
      R"({"metadataResponses":[{"gameId":7,"metadata":{"fileSize":5000000,"gameVersion":"14.3"},)"
      R"("status":"OK"},{"gameId":8,"metadata":{"fileSize":0,"gameVersion":""},)"
      R"("status":"INTERNAL_SERVER_ERROR"}]})");
  ExpectRoundTrip(DownloadUrlRequestV2{"EUW1", 9}, R"({"gameId":9,"platformId":"EUW1"})");
  ExpectRoundTrip(DownloadUrlResponseV2{"https://example.test/r/9.trec"},
                  R"({"url":"https://example.test/r/9.trec"})");
}

TEST_F(ReplaysApiRegistrationTest, EnumFieldsReadTheirSpellingsAndNumbers) {
  struct Case {
    const char* json;
    bool success;
    Api::MetadataState state;
  };
  const Case cases[] = {
      {R"({"state":"unsupported"})", true, Api::MetadataState::unsupported},
      {R"({"state":"error"})", true, Api::MetadataState::error},
      {R"({"state":9})", true, Api::MetadataState::unsupported},
      {R"({"state":10})", true, Api::MetadataState::error},
      {R"({"state":11})", false, {}},
      {R"({"state":"Error"})", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    Api::ReplayMetadata metadata;
    const BindingResult read = FromProperty(FromJsonText(c.json).value, metadata, "body", registry);
    EXPECT_EQ(read.success, c.success) << read.error();
    if (c.success) {
      EXPECT_EQ(metadata.state, c.state);
    }
  }
}

TEST_F(ReplaysApiRegistrationTest, KeysAreMatchedExactly) {
  Api::ReplaysDynamicConfig config;
  const BindingResult read = FromProperty(
      FromJsonText(
          R"({"minSupportedGameServerVersion":"14.1","minutesUntilReplayConsideredLost":5})")
          .value,
      config, "body", registry);
  ASSERT_TRUE(read.success) << read.error();
  EXPECT_EQ(config.MinSupportedGameServerVersion, "");
  EXPECT_EQ(config.MinutesUntilReplayConsideredLost, 30);

  Api::ReplaysSettingsData settings;
  ASSERT_TRUE(
      FromProperty(FromJsonText(R"({"replaysFolderPath":"/r"})").value, settings, "data", registry)
          .success);
  EXPECT_EQ(settings.replaysFolderPath, "");
}

TEST_F(ReplaysApiRegistrationTest, MissingKeysOfTheCreateBodyMeanNotKnown) {
  Api::ReplayCreateMetadata request;
  ASSERT_TRUE(FromProperty(FromJsonText("{}").value, request, "request", registry).success);
  EXPECT_EQ(request.gameVersion, "unknown_version");
  EXPECT_EQ(request.gameType, "");
  EXPECT_EQ(request.queueId, -1);
  EXPECT_EQ(request.gameEnd, 0u);
}

}  // namespace
}  // namespace Zorv::Client::Replays
