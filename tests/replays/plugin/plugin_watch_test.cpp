// The watch action on the plug-in object, with host resources behind its
// calls: what a missing replay file does to the record, the refusal while a
// replay plays, the launch request and its arguments, a failed launch, and
// every log line, metric and event in the order they happen.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "logging/logger_api.h"
#include "support/capture_log_target.h"
#include "support/temp_folder.h"
#include "watch_harness.h"

namespace Zorv::Client::Replays {
namespace {

using Host::CallAnswer;
using Host::CallRequest;
using Testing::WatchHarness;
using Strings = std::vector<std::string>;

constexpr char kLaunchUrl[] = "/pex-gameflow/v1/watch/launch";
constexpr char kSettingsUrl[] = "/pex-settings/v1/local/pex-replays";

class PluginWatchTest : public ::testing::Test {
 protected:
  PluginWatchTest() {
    api->acquire();
    api->setLevel(0);
    api->setSuppressedCategories(0, 0);
    capture.attach();
    AnswerLaunch(CallAnswer::Value(BindingProperty()));
  }
  ~PluginWatchTest() override { api->release(); }

  void AnswerLaunch(CallAnswer answer) {
    plugin.resources.Handle(HOST_METHOD_POST, kLaunchUrl,
                            [answer](const CallRequest&) { return answer; });
  }
  // A replay file on disk, recorded for the game with a version.
  std::string RecordReplay(uint64_t gameId) {
    const std::string path = folder.path() + "/NA1-" + std::to_string(gameId) + ".trec";
    std::ofstream(path) << "replay";
    plugin.metadataStore()->SetTrecPathForGame(gameId, path, "10.5.1.2");
    return path;
  }
  // Watches and answers what happened meanwhile (timeline of watch_harness.h).
  Strings Watch(uint64_t gameId, const std::string& componentType = "match-history") {
    const size_t from = plugin.Timeline().size();
    plugin.Watch(gameId, Api::ReplayContextData{componentType});
    const Strings& timeline = plugin.Timeline();
    return Strings(timeline.begin() + static_cast<std::ptrdiff_t>(from), timeline.end());
  }
  // The argument list of every launch request, in order.
  std::vector<Strings> Launches() const {
    std::vector<Strings> launches;
    for (const CallRequest& call : plugin.resources.Calls()) {
      if (call.url != kLaunchUrl) continue;
      Strings arguments;
      EXPECT_EQ(call.method, HOST_METHOD_POST);
      EXPECT_EQ(call.arguments.size(), 1u);
      const BindingProperty& list = call.arguments.at(0);
      EXPECT_EQ(list.kind(), ValueKind::Collection);
      for (size_t i = 0; i < list.size(); ++i) arguments.emplace_back(list.element(i).asString());
      launches.push_back(arguments);
    }
    return launches;
  }
  size_t CallsTo(const std::string& url) const {
    size_t count = 0;
    for (const CallRequest& call : plugin.resources.Calls()) count += call.url == url ? 1 : 0;
    return count;
  }

  const LoggerApi* api = GetLoggerApi();
  Zorv::Testing::CaptureLogTarget capture;
  Zorv::Testing::TempFolder folder{"watch"};
  WatchHarness plugin{capture};
};

std::string Handling(const std::string& id) {
  return "  OKAY| GEN| Plugin handling Replay '" + id +
         "' player action, WATCH, componentType=match-history";
}

// ---- A replay that is not there -----------------------------------------------------------------

TEST_F(PluginWatchTest, AGameWithoutARecordGetsNoRecordAndNoLaunch) {
  EXPECT_EQ(
      Watch(77),
      (Strings{
          Handling("77"),
          "metric launchingReplay click",
          "metric launchingReplay processing-anomaly: Plugin encountered missing Replay (77), "
          "resetting its metadata",
          "  WARN| DBG| Plugin encountered missing Replay '77', resetting its metadata",
      }));
  EXPECT_EQ(plugin.metadataStore()->FindRecord(77), nullptr);
  EXPECT_TRUE(plugin.events.empty());
  EXPECT_FALSE(plugin.mutableWatchingGameId().has_value());
}

TEST_F(PluginWatchTest, AMissingReplayFileTurnsTheRecordBackToDownload) {
  struct Case {
    const char* name;
    std::string path;  // recorded for the game; empty: a record without a file
  };
  const std::string existing = RecordReplay(1);
  const Case cases[] = {
      {"record without a file", ""},
      {"file deleted", folder.path() + "/NA1-31.trec"},
      {"a folder", folder.path()},
      {"odd characters", folder.path() + "/NA1-33 %s%n '\"\xc3\xa9\t.trec"},
      {"a name longer than the system allows", folder.path() + "/" + std::string(300, 'x')},
      // The system would read the path up to the zero byte: the existing file.
      {"a zero byte inside", existing + std::string("\0.part", 6)},
  };
  uint64_t gameId = 30;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string id = std::to_string(++gameId);
    ReplayRecord& record = plugin.metadataStore()->GetOrCreateRecord(gameId);
    record.trecPath = c.path;
    record.gameVersion = "10.5.1.2";
    record.metadata.state = c.path.empty() ? Api::MetadataState::found : Api::MetadataState::watch;
    const std::string event = "event /pex-replays/v1/metadata/" + id +
                              R"( {"downloadProgress":0,"gameId":)" + id +
                              R"(,"state":"download"})";
    const Strings reset = {
        "  OKAY| GEN| MetadataStore: update Replay '" + id + "', state->Download, trecPath->''",
        "  OKAY| DBG;XTR| Plugin notifying about updated metadata: { download, " + id + ", 0% }",
        event,
    };
    Strings expected = {Handling(id), "metric launchingReplay click"};
    if (c.path.empty()) {
      expected.push_back(
          "metric launchingReplay processing-anomaly: Plugin encountered missing "
          "Replay (" +
          id + "), resetting its metadata");
      expected.push_back("  WARN| DBG| Plugin encountered missing Replay '" + id +
                         "', resetting its metadata");
    } else {
      expected.push_back(
          "metric launchingReplay processing-anomaly: Plugin encountered missing "
          "Replay (" +
          id + "), resetting its metadata and trecPath->" + c.path);
      // The log line is printf-formatted: it ends at a zero byte.
      expected.push_back("  WARN| DBG| Plugin encountered missing Replay '" + id +
                         "', resetting its metadata and trecPath->" + c.path.c_str());
    }
    expected.insert(expected.end(), reset.begin(), reset.end());
    const Strings timeline = Watch(gameId);
    // The grouped event carries the same change.
    Strings seen;
    for (const std::string& entry : timeline) {
      if (entry.rfind("event OnJsonApiEvent_", 0) != 0) seen.push_back(entry);
    }
    EXPECT_EQ(seen, expected);

    const ReplayRecord* after = plugin.metadataStore()->FindRecord(gameId);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->metadata.state, Api::MetadataState::download);
    EXPECT_EQ(after->trecPath, "");
    EXPECT_EQ(after->gameVersion, "10.5.1.2");
  }
  EXPECT_EQ(CallsTo(kLaunchUrl), 0u);
  EXPECT_EQ(CallsTo(kSettingsUrl), 0u);
  EXPECT_FALSE(plugin.mutableWatchingGameId().has_value());
  std::ifstream file(existing);
  EXPECT_TRUE(file.good()) << "the file the path led to is kept";
  EXPECT_EQ(plugin.metadataStore()->FindRecord(1)->metadata.state, Api::MetadataState::watch);
}

// ---- A replay plays already ---------------------------------------------------------------------

TEST_F(PluginWatchTest, AWatchWhileAReplayPlaysIsRefused) {
  struct Case {
    const char* name;
    std::optional<uint64_t> watched;
    const char* refusal;
  };
  const Case cases[] = {
      {"launched by this plug-in", 5,
       "Plugin attempted to play replay (6) while already playing replay (5)"},
      {"launched elsewhere", std::nullopt,
       "Plugin attempted to play replay (6) while already playing replay (unknown)"},
      {"the highest game id", UINT64_MAX,
       "Plugin attempted to play replay (6) while already playing replay (18446744073709551615)"},
  };
  RecordReplay(6);
  plugin.mutableConfiguration().isPlayingReplay = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plugin.mutableWatchingGameId() = c.watched;
    EXPECT_EQ(Watch(6), (Strings{
                            Handling("6"),
                            "metric launchingReplay click",
                            std::string("  WARN| DBG| ") + c.refusal,
                            std::string("metric launchingReplay processing-anomaly: ") + c.refusal,
                        }));
    EXPECT_EQ(plugin.mutableWatchingGameId(), c.watched);
  }
  EXPECT_EQ(CallsTo(kSettingsUrl), 0u);
  EXPECT_EQ(CallsTo(kLaunchUrl), 0u);
  EXPECT_EQ(plugin.metadataStore()->FindRecord(6)->metadata.state, Api::MetadataState::watch);

  // A launch that never started playing leaves its id behind; it does not block the next one.
  plugin.mutableConfiguration().isPlayingReplay = false;
  plugin.mutableWatchingGameId() = 5;
  Watch(6);
  EXPECT_EQ(CallsTo(kLaunchUrl), 1u);
  EXPECT_EQ(plugin.mutableWatchingGameId(), 6u);
}

// ---- The launch ---------------------------------------------------------------------------------

TEST_F(PluginWatchTest, ALaunchRequestsTheFileAndBecomesTheWatchedGame) {
  plugin.resources.SetResource(kSettingsUrl, R"({"data":{"highlights-folder-path":"C:/H"}})");
  std::optional<uint64_t> watchedDuringLaunch;
  plugin.resources.Handle(HOST_METHOD_POST, kLaunchUrl, [&](const CallRequest&) {
    watchedDuringLaunch = plugin.mutableWatchingGameId();
    return CallAnswer::Value(BindingProperty());
  });
  const std::string path = RecordReplay(5);
  EXPECT_EQ(Watch(5),
            (Strings{
                Handling("5"),
                "metric launchingReplay click",
                "GET /pex-settings/v1/local/pex-replays",
                "metric launchingReplay launch-request",
                "POST /pex-gameflow/v1/watch/launch [\"" + path + "\",\"-HighlightsPath=C:/H\"]",
                "metric launchingReplay launch-ok",
                "  OKAY| GEN| Plugin successfully launched Replay '5'",
            }));
  EXPECT_EQ(watchedDuringLaunch, 5u) << "the game is the watched one before the launch";
  EXPECT_EQ(plugin.mutableWatchingGameId(), 5u);
  EXPECT_EQ(plugin.metadataStore()->FindRecord(5)->metadata.state, Api::MetadataState::watch);
  EXPECT_EQ(plugin.ledger->issued, plugin.ledger->released);
}

TEST_F(PluginWatchTest, TheHighlightsFolderIsASecondArgumentOnlyWhenTheSettingsGiveOne) {
  struct Case {
    const char* name;
    std::optional<std::string> settings;  // none: the resource does not exist
    std::string second;                   // empty: no second argument
  };
  const std::string longFolder = "/h/" + std::string(5000, 'h');
  const Case cases[] = {
      {"no settings resource", std::nullopt, ""},
      {"no highlights folder", R"({"data":{"replays-folder-path":"/r"}})", ""},
      {"an empty highlights folder", R"({"data":{"highlights-folder-path":""}})", ""},
      {"settings of the wrong shape", R"({"data":{"highlights-folder-path":7}})", ""},
      {"settings not a structure", R"([1,2])", ""},
      {"a folder", R"({"data":{"highlights-folder-path":"C:/H"}})", "-HighlightsPath=C:/H"},
      {"placeholders and quotes stay as they are",
       R"({"data":{"highlights-folder-path":"C:/%1 %s \"q\" \u00e9"}})",
       "-HighlightsPath=C:/%1 %s \"q\" \xc3\xa9"},
      {"a folder longer than a formatted text",
       R"({"data":{"highlights-folder-path":")" + longFolder + R"("}})",
       "-HighlightsPath=" + longFolder},
  };
  const std::string path = RecordReplay(5);
  std::vector<Strings> expected;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plugin.resources.RemoveResource(kSettingsUrl);
    if (c.settings) {
      ASSERT_TRUE(plugin.resources.SetResource(kSettingsUrl, *c.settings));
    }
    Watch(5);
    expected.push_back(c.second.empty() ? Strings{path} : Strings{path, c.second});
  }
  EXPECT_EQ(Launches(), expected);
}

TEST_F(PluginWatchTest, EachWatchStartsASequenceThatItsStepsCarry) {
  RecordReplay(5);
  plugin.Watch(5, Api::ReplayContextData{"match-history"});
  plugin.Watch(5, Api::ReplayContextData{"end-of-game"});
  Strings seen;
  for (const CallRequest& call : plugin.resources.Calls()) {
    if (call.url != std::string(WatchHarness::kTelemetryPrefix) + "launchingReplay") continue;
    const BindingProperty& fields = call.arguments.at(0);
    seen.push_back(std::string(fields.find("step").asString()) + " " +
                   std::string(fields.find("sequence").asString()) + " " +
                   std::string(fields.find("componentType").asString()) + " " +
                   std::string(fields.find("gameId").asString()));
  }
  EXPECT_EQ(seen, (Strings{
                      "click 1 match-history 5",
                      "launch-request 1 match-history 5",
                      "launch-ok 1 match-history 5",
                      "click 2 end-of-game 5",
                      "launch-request 2 end-of-game 5",
                      "launch-ok 2 end-of-game 5",
                  }));
}

TEST_F(PluginWatchTest, AFailedLaunchIsReportedAndForgetsTheWatchedGame) {
  struct Case {
    const char* name;
    CallAnswer answer;
    Strings after;  // what follows the launch request
  };
  const Case cases[] = {
      {"with a message",
       CallAnswer::Error("no game client", 503),
       {"metric launchingReplay launch-error: Plugin could not launch Replay (5), reason: no game "
        "client"}},
      {"without a message",
       CallAnswer::Error("", 500),
       {"  WARN| DBG| Plugin could not launch Replay (5), reason: unknown",
        "metric launchingReplay launch-error: Failed with unknown reason",
        "  WARN| DBG| Plugin could not launch Replay '5', reason: "}},
  };
  const std::string path = RecordReplay(5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnswerLaunch(c.answer);
    plugin.mutableWatchingGameId() = 9;
    Strings expected = {
        Handling("5"),
        "metric launchingReplay click",
        "GET /pex-settings/v1/local/pex-replays",
        "metric launchingReplay launch-request",
        "POST /pex-gameflow/v1/watch/launch [\"" + path + "\"]",
    };
    expected.insert(expected.end(), c.after.begin(), c.after.end());
    EXPECT_EQ(Watch(5), expected);
    EXPECT_FALSE(plugin.mutableWatchingGameId().has_value());
    EXPECT_EQ(plugin.metadataStore()->FindRecord(5)->metadata.state, Api::MetadataState::watch);
  }

  // Nothing is left that refuses or spoils the next watch.
  AnswerLaunch(CallAnswer::Value(BindingProperty()));
  EXPECT_EQ(Watch(5).back(), "  OKAY| GEN| Plugin successfully launched Replay '5'");
  EXPECT_EQ(plugin.mutableWatchingGameId(), 5u);
  EXPECT_EQ(plugin.ledger->issued, plugin.ledger->released);
}

}  // namespace
}  // namespace Zorv::Client::Replays
