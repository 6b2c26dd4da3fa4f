// GameClient: the game client as the host's game flow launches it to watch a
// replay, simulated on a PluginHost. It serves the host resource POST
// "/pex-gameflow/v1/watch/launch", whose one argument is the list [replay
// path, optional "-HighlightsPath=..."], and plays the watch phase resource
// "/pex-gameflow/v1/watch": "WatchInProgress" from the launch on, "None" when
// the watch ends.
//
//   GameClient client(host, {.watchSeconds = 20, .command = {}});  // a timer ends the watch
//   GameClient viewer(host, {.watchSeconds = 0, .command = {"/usr/bin/viewer", "--fullscreen"}});
//
// Promises:
// - A launch fails, with a message, when the replay file is missing or cannot
//   be read, when the argument is not that list, when a watch is under way,
//   or when the command cannot start; the phase then stays as it was.
// - With a command, the executable is started directly (posix_spawn, never a
//   shell) with the fixed arguments and then the launch arguments, and without
//   the host's descriptors beyond standard input, output and error; the watch
//   ends when it exits. A waiter thread hands the end to the host thread
//   (host.Work().Post); without a command, a host timer ends it after
//   watchSeconds.
// - Everything but the waiter runs on the host thread, and the client is
//   destroyed there. Destruction asks a running command to stop (SIGTERM,
//   then SIGKILL after kStopGrace) and waits for it; the launch resource then
//   answers an error, and a watch end still queued is dropped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/call_answer.h"

namespace Zorv::Host {

class PluginHost;

inline constexpr char kWatchLaunchPath[] = "/pex-gameflow/v1/watch/launch";
inline constexpr char kWatchPhasePath[] = "/pex-gameflow/v1/watch";

class GameClient {
 public:
  struct Options {
    // How long a watch lasts without a command.
    double watchSeconds = 30;
    // The executable's path, then fixed arguments; empty: no process, a timer.
    std::vector<std::string> command;
  };
  static constexpr std::chrono::seconds kStopGrace{2};

  // Serves the launch resource on `host`, which must outlive the client.
  GameClient(PluginHost& host, Options options);
  ~GameClient();
  GameClient(const GameClient&) = delete;
  GameClient& operator=(const GameClient&) = delete;

  bool Watching() const { return watching_; }
  // How the last command ended ("exit 0", "signal 9"); empty before the first.
  const std::string& LastExit() const { return lastExit_; }

 private:
  CallAnswer Launch(const CallRequest& request);
  CallAnswer Spawn(const std::vector<std::string>& launchArguments);
  void Wait(pid_t pid, std::weak_ptr<GameClient*> self);
  void EndWatch();
  void SetPhase(const char* phase);
  void StopCommand();

  PluginHost& host_;
  Options options_;
  bool watching_ = false;
  std::string lastExit_;
  // Work handed to the host thread holds this weakly, so it does nothing once
  // the client is gone.
  std::shared_ptr<GameClient*> self_;

  // The running command, shared with the waiter thread.
  std::mutex mutex_;
  std::condition_variable exitedChanged_;
  pid_t pid_ = -1;
  bool exited_ = true;  // set before the process is reaped, so pid_ is never stale
  std::thread waiter_;
};

}  // namespace Zorv::Host
