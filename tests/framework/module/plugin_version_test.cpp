#include "framework/module/plugin_version.h"

#include <gtest/gtest.h>

namespace Zorv::Client {
namespace {

TEST(PluginVersionTest, TextFormAddsPreReleaseAndBuildOnlyWhenSet) {
  EXPECT_EQ(ModulePluginVersion().ToString(), "18.0.0");
  EXPECT_EQ((PluginVersion{1, 2, 3, "beta", ""}).ToString(), "1.2.3-beta");
  EXPECT_EQ((PluginVersion{1, 2, 3, "", "77"}).ToString(), "1.2.3+77");
  EXPECT_EQ((PluginVersion{1, 2, 3, "rc1", "77"}).ToString(), "1.2.3-rc1+77");
}

TEST(PluginVersionTest, HostMustShareMajorAndNotBeOlder) {
  struct Case {
    PluginVersion module;
    PluginVersion host;
    bool compatible;
  };
  const Case cases[] = {
      {{18, 0, 0, "", ""}, {18, 0, 0, "", ""}, true},
      {{18, 0, 0, "", ""}, {18, 0, 5, "", ""}, true},
      {{18, 0, 0, "", ""}, {18, 3, 0, "", ""}, true},
      {{18, 0, 0, "", ""}, {17, 9, 9, "", ""}, false},
      {{18, 0, 0, "", ""}, {19, 0, 0, "", ""}, false},
      {{18, 1, 0, "", ""}, {18, 0, 0, "", ""}, false},
      // Minor decides before patch.
      {{18, 1, 5, "", ""}, {18, 2, 0, "", ""}, true},
      {{18, 1, 5, "", ""}, {18, 1, 4, "", ""}, false},
      // The texts take no part.
      {{18, 0, 0, "", ""}, {18, 0, 0, "alpha", "9"}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsCompatible(c.module, c.host), c.compatible)
        << "module " << c.module.ToString() << ", host " << c.host.ToString();
  }
}

}  // namespace
}  // namespace Zorv::Client
