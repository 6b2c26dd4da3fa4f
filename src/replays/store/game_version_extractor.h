// GameVersionExtractor: which game version is installed. It asks the host's
// patcher resource for the game client's folder and reads the file version
// of "Vellmoor.exe" there from the executable's version resource.
//
//   GameVersionExtractor extractor(module);
//   MaybeType<Failure, std::string> version = extractor.GetInstalledGameVersion();
//   if (version) configuration.gameVersion = version.value();  // "10.3.311.3581"
//
// Every failure is a Failure with code 0 and an English message; nothing is
// thrown and nothing is cached, so each call asks the host and reads the file
// again. The fixed file information is used only when the version block
// holds all of it. Runs on the module's callback context: the patcher call
// waits for the host's answer.
//
// ParseGameVersion reads the dotted four-part versions that the compatibility
// check compares.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "framework/hostapi/failure.h"
#include "framework/hostapi/maybe_type.h"

namespace Zorv::Client {
class AppModule;
}

namespace Zorv::Client::Replays {

inline constexpr char kPatcherPathsResource[] = "/patcher/v1/products/vellmoor/paths";
inline constexpr char kGameClientFolderKey[] = "pex_game_client_sln";
inline constexpr char kGameClientExecutable[] = "Vellmoor.exe";

// The version-resource calls the extractor makes (platform/version_resource.h
// unless replaced, as tests do to fail one step).
struct VersionResourceCalls {
  std::function<uint32_t(const std::string& path)> getSize;
  std::function<bool(const std::string& path, uint32_t size, void* buffer)> getInfo;
  std::function<bool(const void* buffer, uint32_t size, const char* subBlock, const void** value,
                     uint32_t* length)>
      query;

  static VersionResourceCalls Platform();
};

class GameVersionExtractor {
 public:
  // `module` makes the host calls and must outlive the extractor.
  explicit GameVersionExtractor(AppModule& module,
                                VersionResourceCalls calls = VersionResourceCalls::Platform());
  virtual ~GameVersionExtractor() = default;

  // The file version of the installed game client, as "major.minor.build.revision".
  virtual MaybeType<Failure, std::string> GetInstalledGameVersion();

  // The game client's folder, as the patcher resource names it.
  MaybeType<Failure, std::string> GetGameClientFolder();
  // The folder and `executableName` joined with "/" (backslashes become "/"),
  // shorter than Platform::kMaxPathChars.
  MaybeType<Failure, std::string> GetGameClientPath(std::string_view executableName);

 private:
  AppModule& module_;
  VersionResourceCalls calls_;
};

// Reads four unsigned decimal numbers joined by "." as "%u.%u.%u.%u" does:
// blanks may precede each number, text after the fourth is ignored, and the
// text ends at its first NUL. A number with a minus sign or beyond 32 bits is
// refused. When four numbers cannot be read, logs at WARN (DBG) and answers
// no value.
using GameVersionNumbers = std::array<uint32_t, 4>;
std::optional<GameVersionNumbers> ParseGameVersion(const std::string& text);

}  // namespace Zorv::Client::Replays
