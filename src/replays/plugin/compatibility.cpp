#include "replays/plugin/compatibility.h"

#include "replays/store/game_version_extractor.h"

namespace Zorv::Client::Replays {

std::string_view MajorMinorPrefix(std::string_view version) {
  const size_t first = version.find('.', 1);
  if (first == std::string_view::npos) return version;
  const size_t second = version.find('.', first + 1);
  if (second == std::string_view::npos) return version;
  return version.substr(0, second);
}

bool IsCompatible(const Api::ReplaysConfiguration& configuration,
                  const std::string& replayVersion) {
  if (!configuration.gameVersion.empty() &&
      MajorMinorPrefix(configuration.gameVersion) != MajorMinorPrefix(replayVersion)) {
    return false;
  }
  if (configuration.minServerVersion.empty()) return true;
  const std::optional<GameVersionNumbers> minimum =
      ParseGameVersion(configuration.minServerVersion);
  if (!minimum) return true;
  const std::optional<GameVersionNumbers> replay = ParseGameVersion(replayVersion);
  if (!replay) return true;
  return *replay >= *minimum;
}

}  // namespace Zorv::Client::Replays
