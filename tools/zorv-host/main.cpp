// zorv-host: loads the plug-in into a PluginHost on the machine's clock, with
// a workspace's host resources, the simulated game server and game client,
// serves it all over HTTP on 127.0.0.1 and runs the host loop on this thread
// until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "host/clock.h"
#include "host/curl_transport.h"
#include "host/host_loop.h"
#include "host/plugin_host.h"
#include "zorv-host/demo_workspace.h"
#include "zorv-host/game_client.h"
#include "zorv-host/game_server.h"
#include "zorv-host/http_front.h"
#include "zorv-host/options.h"
#include "zorv-host/security.h"
#include "zorv-host/workspace.h"

namespace Zorv::Host {
namespace {

constexpr char kStopping[] = "zorv-host is stopping";

// A stop may come while a plug-in callback waits for a server answer that
// never comes: the loop stops only once that callback returns. So the server
// answers every request still open, and every later one, with an error.
void EndServiceWaits(PluginHost& host) {
  ServiceProxyServer& proxy = host.ServiceProxy();
  for (const char* method : {"getMultipleMetadata", "getDownloadUrl"})
    proxy.Answer(kReplayService, method, ServiceAnswer::Error(kStopping));
  std::set<std::string> answered;
  for (const BindingProperty& delivered : proxy.Delivered())
    answered.emplace(delivered.find("uuid").asString());
  std::vector<std::string> open;
  for (const ServiceProxyRequest& request : proxy.Requests())
    if (!answered.count(request.uuid)) open.push_back(request.uuid);
  for (const std::string& uuid : open) proxy.Respond(uuid, ServiceAnswer::Error(kStopping));
}

int Run(const Options& options) {
  if (options.demo) {
    bool created = false;
    const std::string error = CreateDemoWorkspace(options.workspace, &created);
    if (!error.empty()) {
      std::fprintf(stderr, "zorv-host: %s\n", error.c_str());
      return 1;
    }
    if (created)
      std::printf("zorv-host: created the demo workspace %s\n", options.workspace.c_str());
  } else if (!std::filesystem::is_directory(options.workspace)) {
    std::fprintf(stderr, "zorv-host: %s is not a folder\n", options.workspace.c_str());
    return 1;
  }
  const Workspace workspace(options.workspace);

  SteadyClock clock;
  CurlHttpTransport curl;
  PluginHost host({.clock = &clock, .transport = &curl});
  if (const std::string error = LoadHostResources(workspace.Root(), host); !error.empty()) {
    std::fprintf(stderr, "zorv-host: %s\n", error.c_str());
    return 1;
  }
  uint16_t port = 0;
  GameServer server(host, workspace.ServerFolder(), [&port](const std::string& name) {
    return "http://127.0.0.1:" + std::to_string(port) + "/zorv-host/v1/server/files/" + name;
  });
  GameClient client(host, {.watchSeconds = options.watchSeconds, .command = options.gameClient});
  if (const std::string error = host.Load(options.plugin); !error.empty()) {
    std::fprintf(stderr, "zorv-host: cannot load %s: %s\n", options.plugin.c_str(), error.c_str());
    return 1;
  }
  if (!host.Initialize()) {
    std::fprintf(stderr, "zorv-host: the plug-in refused to initialise\n");
    return 1;
  }
  const std::string token = options.auth ? MakeToken() : std::string();
  HttpFront front(host, server, {.auth = options.auth, .token = token});
  if (const std::string error = front.Start(options.port); !error.empty()) {
    std::fprintf(stderr, "zorv-host: %s\n", error.c_str());
    return 1;
  }
  port = front.Port();
  LockFile lock;
  if (const std::string error = lock.Write(workspace.Root(), port, token); !error.empty()) {
    std::fprintf(stderr, "zorv-host: %s\n", error.c_str());
    return 1;
  }
  std::printf("zorv-host: serving %s on http://127.0.0.1:%u\n", workspace.Root().c_str(), port);
  if (options.auth) std::printf("zorv-host: token %s\n", token.c_str());
  std::printf("zorv-host: lock file %s/%s\n", workspace.Root().c_str(), kLockFileName);
  std::fflush(stdout);

  HostLoop loop(host);
  // Stop signals are blocked on every thread (see main) and taken here.
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGUSR1}) sigaddset(&signals, signal);
  std::thread signalThread([&] {
    int signal = 0;
    while (sigwait(&signals, &signal) == 0 && signal != SIGUSR1) {
      loop.RequestStop();
      host.Work().Post([&host] { EndServiceWaits(host); });
    }
  });
  loop.Run();
  pthread_kill(signalThread.native_handle(), SIGUSR1);
  signalThread.join();

  front.Stop();
  host.Shutdown();
  host.Unload();
  lock.Remove();
  std::printf("zorv-host: stopped\n");
  return 0;
}

}  // namespace
}  // namespace Zorv::Host

int main(int argc, char** argv) {
  // Before any thread starts, so every thread inherits the mask and the stop
  // signals reach only the thread that waits for them.
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGUSR1}) sigaddset(&signals, signal);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Zorv::Host::Options options;
  if (std::optional<int> exit = Zorv::Host::ParseOptions(argc, argv, options)) return *exit;
  return Zorv::Host::Run(options);
}
