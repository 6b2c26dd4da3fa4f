// The simulated game client on a host: the watch phases of a launch on
// virtual time, refused launches, and a real command whose exit ends the watch.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "binding/json_writer.h"
#include "framework/events/event_name.h"
#include "framework/hostapi/host_value_codec.h"
#include "host/plugin_host.h"
#include "support/temp_folder.h"
#include "zorv-host/game_client.h"

namespace Zorv::Host {
namespace {

void CapturePhase(const IncomingEventRecord* event) {
  BindingResult payload = DecodeHostValue(event->payload);
  static_cast<std::vector<std::string>*>(event->context)
      ->push_back(std::string(payload.value.find("eventType").asString()) + " " +
                  ToJsonText(payload.value.find("data")));
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class GameClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.SetResource(kWatchPhasePath, R"("None")");
    host.Bus().Subscribe({Client::EventNameForUrl(kWatchPhasePath), 1, CapturePhase, &phases, 0});
    replay = temp.path() + "/NA1-5001.trec";
    std::ofstream(replay) << "ZORV";
  }

  // The launch as the game flow gets it from the plug-in.
  CallAnswer Launch(std::vector<std::string> words) {
    CallRequest request;
    request.method = HOST_METHOD_POST;
    request.url = request.path = kWatchLaunchPath;
    BindingProperty list;
    list.makeCollection();
    for (const std::string& word : words) list.append() = word;
    request.argumentNames.push_back("");
    request.arguments.push_back(std::move(list));
    return host.Resources().Route(request);
  }
  std::string Phase() { return ToJsonText(*host.Resources().Resource(kWatchPhasePath)); }
  // Runs handed-over work until the watch ends, waiting on the work queue;
  // false when it has not ended within a generous bound.
  bool RunUntilTheWatchEnds(const GameClient& client) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (client.Watching() && std::chrono::steady_clock::now() < deadline) {
      host.Work().WaitFor(std::chrono::milliseconds(200));
      host.RunPending();
    }
    return !client.Watching();
  }
  std::string Script(const std::string& body, mode_t mode = 0700) {
    const std::string path = temp.path() + "/viewer.sh";
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), mode);
    return path;
  }

  Testing::TempFolder temp{"game_client"};
  PluginHost host;
  std::vector<std::string> phases;
  std::string replay;
};

TEST_F(GameClientTest, AWatchPlaysForItsTimeOnVirtualTime) {
  GameClient client(host, {.watchSeconds = 20, .command = {}});
  const CallAnswer answer = Launch({replay, "-HighlightsPath=/h"});
  ASSERT_EQ(answer.kind, CallAnswer::Kind::Value) << answer.error;
  EXPECT_TRUE(client.Watching());
  EXPECT_EQ(Phase(), R"("WatchInProgress")");

  const CallAnswer second = Launch({replay});
  EXPECT_EQ(second.kind, CallAnswer::Kind::Error);
  EXPECT_EQ(second.error, "the game client is already playing a replay");

  host.Advance(std::chrono::milliseconds(19999));
  EXPECT_TRUE(client.Watching());
  host.Advance(std::chrono::milliseconds(1));
  EXPECT_FALSE(client.Watching());
  EXPECT_EQ(phases, (std::vector<std::string>{"Update \"WatchInProgress\"", "Update \"None\""}));

  // The next watch may start.
  EXPECT_EQ(Launch({replay}).kind, CallAnswer::Kind::Value);
}

TEST_F(GameClientTest, LaunchesThatCannotPlayFailWithAMessage) {
  ::mkdir((temp.path() + "/folder.trec").c_str(), 0700);
  const std::string locked = temp.path() + "/locked.trec";
  std::ofstream(locked) << "ZORV";
  ::chmod(locked.c_str(), 0);
  const bool root = ::geteuid() == 0;  // root reads a file of mode 0 all the same
  struct Case {
    std::vector<std::string> words;
    const char* error;
  };
  const std::vector<Case> cases = {
      {{temp.path() + "/missing.trec"}, "No such file or directory"},
      {{temp.path() + "/folder.trec"}, "not a regular file"},
      {{root ? temp.path() + "/missing.trec" : locked},
       root ? "No such file or directory" : "Permission denied"},
      {{}, "expected one argument"},
      {{""}, "not a file path"},
  };
  GameClient client(host, {});
  for (const Case& c : cases) {
    const CallAnswer answer = Launch(c.words);
    EXPECT_EQ(answer.kind, CallAnswer::Kind::Error);
    EXPECT_NE(answer.error.find(c.error), std::string::npos) << answer.error;
  }
  EXPECT_FALSE(client.Watching());
  EXPECT_TRUE(phases.empty());
  EXPECT_EQ(Phase(), R"("None")");
}

TEST_F(GameClientTest, ACommandGetsTheLaunchArgumentsAndItsExitEndsTheWatch) {
  const std::string out = temp.path() + "/arguments";
  const std::string script = Script("printf '%s|' \"$@\" > '" + out + "'\nexit 3\n");
  GameClient client(host, {.watchSeconds = 0, .command = {script, "--fixed", "two words"}});
  const CallAnswer answer = Launch({replay, "-HighlightsPath=/h; rm -rf x"});
  ASSERT_EQ(answer.kind, CallAnswer::Kind::Value) << answer.error;
  EXPECT_EQ(Phase(), R"("WatchInProgress")");

  ASSERT_TRUE(RunUntilTheWatchEnds(client));
  EXPECT_EQ(client.LastExit(), "exit 3");
  EXPECT_EQ(ReadAll(out), "--fixed|two words|" + replay + "|-HighlightsPath=/h; rm -rf x|");
  EXPECT_EQ(phases, (std::vector<std::string>{"Update \"WatchInProgress\"", "Update \"None\""}));
  EXPECT_TRUE(host.Faults().empty());
}

TEST_F(GameClientTest, ACommandThatCannotStartFailsTheLaunch) {
  for (const std::string& command :
       {temp.path() + "/no-such-viewer", Script("exit 0\n", 0600), temp.path()}) {
    GameClient client(host, {.watchSeconds = 0, .command = {command}});
    const CallAnswer answer = Launch({replay});
    EXPECT_EQ(answer.kind, CallAnswer::Kind::Error) << command;
    EXPECT_EQ(answer.error.rfind("cannot start the game client '" + command + "': ", 0), 0u)
        << answer.error;
    EXPECT_FALSE(client.Watching());
  }
  EXPECT_TRUE(phases.empty());
}

TEST_F(GameClientTest, ACommandStartsWithNoSignalBlockedWhateverTheHostBlocks) {
  // zorv-host blocks its stop signals on every thread and waits for them on
  // one; the game client must still be stoppable by them.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigset_t before;
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &stops, &before), 0);
  const std::string report = temp.path() + "/mask";
  // Straight from the executable: a shell may reset its mask on start.
  const std::string python =
      "import re, sys\n"
      "status = open('/proc/self/status').read()\n"
      "open(sys.argv[1], 'w').write(re.search(r'SigBlk:\\s*(\\w+)', status).group(1))\n";
  GameClient client(host,
                    {.watchSeconds = 0, .command = {"/usr/bin/python3", "-c", python, report}});
  const CallAnswer answer = Launch({replay});
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  ASSERT_EQ(answer.kind, CallAnswer::Kind::Value) << answer.error;
  ASSERT_TRUE(RunUntilTheWatchEnds(client));
  EXPECT_EQ(ReadAll(report), "0000000000000000");
}

TEST_F(GameClientTest, GoingAwayStopsARunningCommandAndTheLaunchResource) {
  auto client = std::make_unique<GameClient>(
      host, GameClient::Options{.watchSeconds = 0, .command = {Script("exec sleep 600\n")}});
  ASSERT_EQ(Launch({replay}).kind, CallAnswer::Kind::Value);
  const auto before = std::chrono::steady_clock::now();
  client.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  host.RunPending();  // the end the waiter handed over finds no client

  const CallAnswer answer = Launch({replay});
  EXPECT_EQ(answer.kind, CallAnswer::Kind::Error);
  EXPECT_EQ(answer.error, "the game client has stopped");
  EXPECT_TRUE(host.Faults().empty());
}

}  // namespace
}  // namespace Zorv::Host
