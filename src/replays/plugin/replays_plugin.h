// ReplaysPlugin: the one module of the replays plug-in. The host loads it
// through load_pex_replays (entry.cpp); RegisterApi declares its types and
// endpoints, Start brings up its submodules and subscriptions.
#pragma once

#include "framework/module/app_module.h"

namespace Zorv::Client::Replays {

class ReplaysPlugin : public AppModule {
 public:
  ReplaysPlugin();
  ~ReplaysPlugin() override;

  void RegisterApi() override;
  bool Start() override;
};

}  // namespace Zorv::Client::Replays
