// CreateDemoWorkspace: a fresh workspace (workspace.h) with everything a
// newcomer needs to see the plug-in work, all generated: local replays, the
// game server's replays, a game client whose Vellmoor.exe carries a version
// resource, and the host resources that tie them together.
//
//   bool created = false;
//   std::string error = CreateDemoWorkspace("/tmp/zorv", &created);
//
// Promises:
// - A folder that exists already is left exactly as it is (created = false).
// - The workspace is built in a temporary folder beside `dir` and renamed into
//   place, so a failure never leaves a half-made workspace at `dir`.
// - The versions agree: the game client's file version is kDemoGameVersion,
//   the platform configuration's minimum is below it, and each replay's
//   version makes it what kDemoGames says.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace Zorv::Host {

inline constexpr char kDemoPlatformId[] = "NA1";
inline constexpr char kDemoGameVersion[] = "14.3.512.7781";
inline constexpr char kDemoMinServerVersion[] = "14.3.0.0";
inline constexpr double kDemoLostMinutes = 60.0;

struct DemoGame {
  uint64_t gameId;
  bool onServer;            // in the server folder; else in the local replay folder
  const char* gameVersion;  // of its metadata block; null for a broken file
  const char* description;
};

// The replays of a demo workspace, each "<platformId>-<gameId>.trec".
std::span<const DemoGame> DemoGames();

// Answers the empty text on success, or what failed.
std::string CreateDemoWorkspace(const std::string& dir, bool* created = nullptr);

}  // namespace Zorv::Host
