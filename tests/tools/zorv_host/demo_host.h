// The start of the tests that drive the real plug-in through zorv-host's
// parts: a demo workspace made, its host resources loaded into `host`, the
// plug-in library loaded and initialized.
//
//   ASSERT_NO_FATAL_FAILURE(StartDemoHost(workspace, host));
#pragma once

#include <gtest/gtest.h>

#include "host/plugin_host.h"
#include "zorv-host/demo_workspace.h"
#include "zorv-host/workspace.h"

namespace Zorv::Host {

inline void StartDemoHost(const Workspace& workspace, PluginHost& host) {
  ASSERT_EQ(CreateDemoWorkspace(workspace.Root()), "");
  ASSERT_EQ(LoadHostResources(workspace.Root(), host), "");
  ASSERT_EQ(host.Load(PEX_REPLAYS_PATH), "");
  ASSERT_TRUE(host.Initialize());
}

}  // namespace Zorv::Host
