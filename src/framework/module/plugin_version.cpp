#include "framework/module/plugin_version.h"

#include <tuple>

#include "zorv/plugin_abi.h"

namespace Zorv::Client {

std::string PluginVersion::ToString() const {
  std::string text =
      std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
  if (!preRelease.empty()) {
    text += "-" + preRelease;
  }
  if (!build.empty()) {
    text += "+" + build;
  }
  return text;
}

PluginVersion ModulePluginVersion() {
  return PluginVersion{ZORV_PLUGIN_API_MAJOR, ZORV_PLUGIN_API_MINOR, ZORV_PLUGIN_API_PATCH, {}, {}};
}

bool IsCompatible(const PluginVersion& module, const PluginVersion& host) {
  return module.major == host.major &&
         std::tie(host.minor, host.patch) >= std::tie(module.minor, module.patch);
}

}  // namespace Zorv::Client
