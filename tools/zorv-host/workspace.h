// Workspace: the folder that zorv-host runs in, opened as it is. It holds the
// documents folder with the local replay folder, the simulated game server's
// files, the game client folder and the host resources file; any of them may
// be missing (an empty folder is a workspace without host resources).
//
//   Zorv::Host::Workspace workspace("/home/me/zorv");
//   std::string error = LoadHostResources(workspace.Root(), host);
//   if (!error.empty()) { ... }  // names the file and what is wrong with it
//   GameServer server(host, workspace.ServerFolder(), urlFor);
#pragma once

#include <string>

namespace Zorv::Host {

class PluginHost;

inline constexpr char kHostResourcesFileName[] = "host-resources.json";

// Paths of a workspace's parts; nothing is read or created.
class Workspace {
 public:
  // `root` is made absolute, so every path below is too.
  explicit Workspace(const std::string& root);

  const std::string& Root() const { return root_; }
  std::string DocumentsFolder() const { return root_ + "/Documents"; }
  std::string ReplayFolder() const { return root_ + "/Documents/Vellmoor/Replays"; }
  std::string HighlightsFolder() const { return root_ + "/Documents/Vellmoor/Highlights"; }
  std::string ServerFolder() const { return root_ + "/server"; }
  std::string GameFolder() const { return root_ + "/Game"; }
  std::string HostResourcesFile() const { return root_ + "/" + kHostResourcesFileName; }

 private:
  std::string root_;
};

// Sets every resource of `<root>/host-resources.json` on `host`: the file holds
// one JSON object that maps each resource path to its value. A missing file
// sets nothing and succeeds. Answers the empty text on success; otherwise a
// message that names the file and says what is wrong (the JSON reader's own
// message for text that is not JSON), and no resource is set.
std::string LoadHostResources(const std::string& root, PluginHost& host);

}  // namespace Zorv::Host
