// The plug-in library's only export: the host calls it once, right after
// loading the library, with its registration record.
#include "framework/module/registration.h"
#include "logging/log.h"
#include "replays/plugin/replays_plugin.h"
#include "zorv/plugin_abi.h"

extern "C" __attribute__((visibility("default"))) void load_pex_replays(
    PluginRegistration* registration) {
  try {
    Zorv::Client::CreateAndRegister<Zorv::Client::Replays::ReplaysPlugin>(registration,
                                                                          "pex-replays");
  } catch (...) {
    Zorv::Log(Zorv::LogLevel::Error, Zorv::kLogDBG, "load_pex_replays failed");
  }
}
