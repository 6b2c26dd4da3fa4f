#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "zorv/plugin_abi.h"

namespace {

// Loads the built library as a host would and drives its handshake.
TEST(EntryTest, LoadedLibraryRegistersAndShutsDown) {
  void* library = dlopen(PEX_REPLAYS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto entry = reinterpret_cast<PluginEntryFunction>(dlsym(library, "load_pex_replays"));
  ASSERT_NE(entry, nullptr);

  PluginRegistration registration{18, 2, 7, nullptr, nullptr, nullptr, nullptr};
  entry(&registration);

  EXPECT_EQ(registration.major, 18u);
  EXPECT_EQ(registration.minor, 0u);
  EXPECT_EQ(registration.patch, 0u);
  ASSERT_NE(registration.callbacks, nullptr);
  ASSERT_NE(registration.module, nullptr);
  EXPECT_EQ(std::string(registration.shortName), "pex-replays");
  ASSERT_NE(registration.apiDescription, nullptr);
  EXPECT_EQ(registration.apiDescription->eventCount, 5u);
  registration.callbacks->Shutdown(registration.module);
  dlclose(library);
}

}  // namespace
