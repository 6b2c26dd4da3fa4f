// A host with the test plug-in loaded and initialised, and access to the
// plug-in's exported hooks, which make the module act from inside.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "host/plugin_host.h"
#include "test_plugin/test_plugin_hooks.h"

namespace Zorv::Host {

class TestPluginFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.Load(E2E_TEST_PLUGIN_PATH, {}, "load_e2e_test_plugin"), "");
    ASSERT_TRUE(host.Initialize());
  }

  template <typename Function>
  Function Hook(const char* name) {
    auto hook = reinterpret_cast<Function>(host.Symbol(name));
    EXPECT_NE(hook, nullptr) << name;
    return hook;
  }

  PluginHost host;
  std::unique_ptr<E2eReport> report = std::make_unique<E2eReport>();
};

}  // namespace Zorv::Host
