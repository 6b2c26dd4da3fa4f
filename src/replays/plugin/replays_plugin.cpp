#include "replays/plugin/replays_plugin.h"

namespace Zorv::Client::Replays {

ReplaysPlugin::ReplaysPlugin() = default;

ReplaysPlugin::~ReplaysPlugin() = default;

void ReplaysPlugin::RegisterApi() {}

bool ReplaysPlugin::Start() {
  return true;
}

}  // namespace Zorv::Client::Replays
