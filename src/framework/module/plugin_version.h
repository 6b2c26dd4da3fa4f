// PluginVersion: the plug-in API version of a module or of its host, and the
// rule that decides whether a host can run a module.
#pragma once

#include <cstdint>
#include <string>

namespace Zorv::Client {

struct PluginVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
  std::string preRelease;
  std::string build;

  // "major.minor.patch", then "-preRelease" and "+build" when not empty.
  std::string ToString() const;
};

// The version this module speaks: 18.0.0.
PluginVersion ModulePluginVersion();

// Same major, and the host's (minor, patch) not lower than the module's;
// pre-release and build texts take no part.
bool IsCompatible(const PluginVersion& module, const PluginVersion& host);

}  // namespace Zorv::Client
