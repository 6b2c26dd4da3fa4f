#include "zorv-host/demo_workspace.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "binding/binding_property.h"
#include "binding/json_writer.h"
#include "pe/pe_writer.h"
#include "trec/trec_writer.h"
#include "zorv-host/workspace.h"

namespace Zorv::Host {
namespace {

namespace fs = std::filesystem;
using Client::Replays::TrecImage;

constexpr DemoGame kGames[] = {
    {5001, false, "14.3.512.7781", "local, compatible: watch it"},
    {5002, false, "13.24.455.1234", "local, recorded by an old version: incompatible"},
    {5003, false, nullptr, "local, broken: its metadata block is cut short"},
    {6001, true, "14.3.498.1120", "on the server, compatible: download it"},
    {6002, true, "14.1.300.5000", "on the server, recorded by another version: incompatible"},
    {6003, true, "14.3.512.7781",
     "on the server, a tutorial game: create its record with game type TUTORIAL_GAME"},
};

constexpr std::array<uint16_t, 4> kClientVersion{14, 3, 512, 7781};
// Filler that stands for the recorded game; small, so a demo is quick to make.
constexpr uint64_t kReplayBodySize = 64 * 1024;

std::string FileName(uint64_t gameId) {
  return std::string(kDemoPlatformId) + "-" + std::to_string(gameId) + ".trec";
}

std::string WriteReplay(const std::string& folder, const DemoGame& game) {
  TrecImage image;
  image.metadata = Client::Replays::MetadataJson(
      {1800000, game.gameVersion ? game.gameVersion : "14.3.512.7781", 30, 15});
  image.bodySize = kReplayBodySize;
  if (!game.gameVersion)
    Client::Replays::ApplyDefect(image, Client::Replays::TrecDefect::Truncated);
  std::string error;
  if (!Client::Replays::WriteTrecFile(folder + "/" + FileName(game.gameId), image, &error)) {
    return error;
  }
  return "";
}

std::string HostResourcesJson(const Workspace& target) {
  BindingProperty resources;
  resources.makeStructure();
  BindingProperty& settings = resources.field("/pex-settings/v1/local/pex-replays").field("data");
  settings.field("replays-folder-path") = target.ReplayFolder();
  settings.field("highlights-folder-path") = target.HighlightsFolder();
  resources.field("/pex-login/v1/login-data-packet").field("platformId") = kDemoPlatformId;
  BindingProperty& states =
      resources.field("/pex-platform-config/v1/namespaces/ClientSystemStates/replaySystemStates");
  states.field("replayServiceEnabled") = true;
  states.field("endOfGameEnabled") = true;
  states.field("matchHistoryEnabled") = true;
  BindingProperty& replays = resources.field("/pex-platform-config/v1/namespaces/Replays");
  replays.field("MinSupportedGameServerVersion") = kDemoMinServerVersion;
  replays.field("MinutesUntilReplayConsideredLost") = kDemoLostMinutes;
  resources.field("/pex-gameflow/v1/availability").field("state") = "Available";
  BindingProperty& session = resources.field("/pex-gameflow/v1/session");
  session.field("phase") = "None";
  session.field("gameClient").field("running") = false;
  resources.field("/pex-gameflow/v1/watch") = "None";
  resources.field("/pex-skirra/v2/playmode-restricted").field("isRestricted") = false;
  resources.field("/patcher/v1/products/vellmoor/paths").field("pex_game_client_sln") =
      target.GameFolder();
  return ToJsonText(resources, nullptr, "\n") + "\n";
}

// Everything of the workspace at `target`, written under `staging`.
std::string Populate(const Workspace& staging, const Workspace& target) {
  std::error_code error;
  for (const std::string& folder : {staging.ReplayFolder(), staging.HighlightsFolder(),
                                    staging.ServerFolder(), staging.GameFolder()}) {
    fs::create_directories(folder, error);
    if (error) return folder + ": " + error.message();
  }
  for (const DemoGame& game : kGames) {
    const std::string failure =
        WriteReplay(game.onServer ? staging.ServerFolder() : staging.ReplayFolder(), game);
    if (!failure.empty()) return failure;
  }
  Testing::PeOptions client;
  client.fileVersion = kClientVersion;
  client.productVersion = kClientVersion;
  client.pe32Plus = true;
  const std::string exe = staging.GameFolder() + "/Vellmoor.exe";
  if (!Testing::WritePeFile(exe, client)) return exe + ": cannot be written";

  const std::string file = staging.HostResourcesFile();
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << HostResourcesJson(target);
  out.close();
  if (!out) return file + ": cannot be written";
  return "";
}

}  // namespace

std::span<const DemoGame> DemoGames() {
  return kGames;
}

std::string CreateDemoWorkspace(const std::string& dir, bool* created) {
  if (created) *created = false;
  const Workspace target(dir);
  std::error_code error;
  if (fs::symlink_status(target.Root(), error).type() != fs::file_type::not_found) {
    return error ? target.Root() + ": " + error.message() : "";
  }
  const fs::path root(target.Root());
  fs::create_directories(root.parent_path(), error);
  if (error) return root.parent_path().string() + ": " + error.message();

  std::string pattern = (root.parent_path() / ("." + root.filename().string() + ".partial-XXXXXX"));
  if (::mkdtemp(pattern.data()) == nullptr) {
    return pattern + ": cannot make a temporary folder: " +
           std::error_code(errno, std::generic_category()).message();
  }
  std::string failure = Populate(Workspace(pattern), target);
  if (failure.empty()) {
    // Never over a folder that another process made at `dir` meanwhile.
    if (::renameat2(AT_FDCWD, pattern.c_str(), AT_FDCWD, target.Root().c_str(), RENAME_NOREPLACE) !=
        0) {
      failure = target.Root() + ": " + std::error_code(errno, std::generic_category()).message();
    }
  }
  if (!failure.empty()) {
    std::error_code ignored;
    fs::remove_all(pattern, ignored);
    return failure;
  }
  if (created) *created = true;
  return "";
}

}  // namespace Zorv::Host
