// Options: the command line of zorv-host, read with CLI11.
//
//   Options options;
//   if (std::optional<int> exit = ParseOptions(argc, argv, options)) return *exit;
//
// Promises: exactly one of --demo and --workspace; a port of 0 to 65535; a
// plug-in path that is absolute (the default is found beside the program).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Zorv::Host {

struct Options {
  std::string workspace;  // absolute
  bool demo = false;      // create the demo workspace there when it does not exist
  std::string plugin;     // absolute path of the plug-in library
  uint16_t port = 0;      // 0: a free one
  bool auth = true;
  double watchSeconds = 30;
  // The game client's executable and its fixed arguments; empty: a timer.
  std::vector<std::string> gameClient;
};

// Fills `options`; answers an exit status when the program should end now
// (--help: 0, a bad command line: non-zero, with the message printed).
std::optional<int> ParseOptions(int argc, char** argv, Options& options);

// The plug-in library built beside the program: `executable`'s folder joined
// with the build tree's relative path to the library.
std::string DefaultPluginPath(const std::string& executable);

// `command` split at blanks (no shell, no quoting): the executable, then its arguments.
std::vector<std::string> SplitCommand(const std::string& command);

}  // namespace Zorv::Host
