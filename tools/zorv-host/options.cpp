#include "zorv-host/options.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <sstream>

#include "platform/process.h"

namespace Zorv::Host {

namespace fs = std::filesystem;

std::string DefaultPluginPath(const std::string& executable) {
  const fs::path folder = fs::path(executable).parent_path();
  return (folder / ZORV_HOST_PLUGIN_RELATIVE_PATH).lexically_normal().string();
}

std::vector<std::string> SplitCommand(const std::string& command) {
  std::vector<std::string> words;
  std::istringstream in(command);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::optional<int> ParseOptions(int argc, char** argv, Options& options) {
  CLI::App app{
      "zorv-host: a development host for the replays plug-in. It loads the plug-in, serves "
      "its functions, the host resources, an event stream and its own routes over HTTP on "
      "127.0.0.1, simulates the game server's replay service and the game client's replay "
      "launch, and downloads over real HTTP.\n"
      "Every request needs the token printed at start-up (and written to "
      "<workspace>/zorv-host.lock), as 'Authorization: Bearer <token>' or as the password of "
      "basic authentication, unless --no-auth; only GET /zorv-host/v1/server/files/<name> "
      "(the simulated server's replay files, which the plug-in downloads without a token) is "
      "open. Routes: the plug-in's functions at their paths; GET /help; GET /events (server-sent "
      "events); GET /zorv-host/v1/log; GET /zorv-host/v1/telemetry; GET, PUT, DELETE "
      "/zorv-host/v1/server/rules[/{gameId}]; any other path is a host resource (GET, PUT, "
      "DELETE). SIGINT or SIGTERM stops it cleanly.",
      "zorv-host"};
  std::string demo;
  std::string workspace;
  std::string plugin;
  std::string gameClient;
  auto* demoOption =
      app.add_option("--demo", demo,
                     "Serve the demo workspace in this folder, creating it when it does not exist");
  auto* workspaceOption = app.add_option(
      "--workspace", workspace,
      "Serve an existing workspace as it is (an empty folder has no host resources)");
  demoOption->excludes(workspaceOption);
  app.add_option("--plugin", plugin,
                 "The plug-in library (default: libpex_replays.so of the build tree beside the "
                 "program)");
  app.add_option("--port", options.port, "TCP port on 127.0.0.1 (0 picks a free one)")
      ->check(CLI::Range(0, 65535));
  bool noAuth = false;
  app.add_flag("--no-auth", noAuth, "Serve without the token (any local program may call)");
  app.add_option("--watch-seconds", options.watchSeconds,
                 "How long a simulated replay watch lasts without --game-client")
      ->check(CLI::Range(0.0, 86400.0));
  app.add_option("--game-client", gameClient,
                 "Command started (no shell; split at blanks) to watch a replay, with the "
                 "replay's path appended; the watch ends when it exits");
  try {
    app.parse(argc, argv);
    if (demo.empty() == workspace.empty())
      throw CLI::ValidationError("exactly one of --demo DIR and --workspace DIR is needed");
  } catch (const CLI::ParseError& error) {
    return app.exit(error);
  }
  options.demo = !demo.empty();
  options.workspace = fs::absolute(options.demo ? demo : workspace).lexically_normal().string();
  if (options.workspace.size() > 1 && options.workspace.ends_with('/'))
    options.workspace.pop_back();
  options.plugin = plugin.empty() ? DefaultPluginPath(Platform::ExecutablePath())
                                  : fs::absolute(plugin).string();
  options.auth = !noAuth;
  options.gameClient = SplitCommand(gameClient);
  return std::nullopt;
}

}  // namespace Zorv::Host
