// The allocation counters that a plug-in reports through GetMemoryStats: every
// C++ allocation of the module's own code moves them, from registration on.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "host/plugin_host.h"

namespace Zorv::Host {
namespace {

struct Counters {
  uint64_t peak, liveAtPeak, bytesAllocated, allocations, bytesFreed, frees;
  uint64_t LiveBytes() const { return bytesAllocated - bytesFreed; }
};

Counters Read(PluginHost& host) {
  const std::array<uint32_t, ZORV_MEMORY_STATS_WORDS> words = host.MemoryStats();
  auto word64 = [&](size_t i) { return words[2 * i] | (uint64_t{words[2 * i + 1]} << 32); };
  return Counters{word64(0), word64(1), word64(2), word64(3), word64(4), word64(5)};
}

TEST(MemoryStatsTest, RegistrationAndInitializeOfTheReplaysPluginAreCounted) {
  PluginHost host;
  ASSERT_EQ(host.Load(PEX_REPLAYS_PATH), "");
  const Counters registered = Read(host);
  // The module, its registry, the framework types and the API description.
  EXPECT_GT(registered.allocations, 100u);
  EXPECT_GT(registered.bytesAllocated, 10000u);
  EXPECT_GE(registered.bytesAllocated, registered.bytesFreed);
  EXPECT_GE(registered.peak, registered.LiveBytes());
  EXPECT_GT(registered.liveAtPeak, 0u);

  ASSERT_TRUE(host.Initialize());
  const Counters initialized = Read(host);
  EXPECT_GT(initialized.allocations, registered.allocations);
  EXPECT_GE(initialized.bytesAllocated, initialized.bytesFreed);
}

TEST(MemoryStatsTest, AnEndpointCallAllocatesAndGivesItsMemoryBack) {
  PluginHost host;
  ASSERT_EQ(host.Load(E2E_TEST_PLUGIN_PATH, {}, "load_e2e_test_plugin"), "");
  ASSERT_TRUE(host.Initialize());
  const std::string url = "/e2e-test/v1/items/" + std::string(200, '7');
  // The first call may fill lasting caches; the next ones must not keep anything.
  ASSERT_TRUE(host.CallModule(HOST_METHOD_GET, url).ok);

  const Counters before = Read(host);
  for (int i = 0; i < 3; ++i) {
    const EndpointAnswer answer = host.CallModule(HOST_METHOD_GET, url);
    ASSERT_TRUE(answer.ok) << answer.error;
  }
  const Counters after = Read(host);
  // Matching the path, binding the 200-character argument into a string,
  // building and encoding the result: well over ten blocks a call (value
  // pages alone, from a chunk kept idle, make none).
  EXPECT_GT(after.allocations - before.allocations, 3u * 10);
  EXPECT_GT(after.bytesAllocated - before.bytesAllocated, 3u * 200);
  EXPECT_EQ(after.allocations - before.allocations, after.frees - before.frees)
      << "every block of the calls is freed once the host released the results";
  EXPECT_EQ(after.LiveBytes(), before.LiveBytes());
}

// The modules' operators are their own: a library that exported them would
// take over the host's allocations (dlsym finds a library's own definition
// before those of its dependencies).
TEST(MemoryStatsTest, NeitherModuleExportsItsOperatorNewOrDelete) {
  const std::pair<const char*, const char*> libraries[] = {
      {PEX_REPLAYS_PATH, "load_pex_replays"},
      {E2E_TEST_PLUGIN_PATH, "load_e2e_test_plugin"},
  };
  for (const auto& [path, entry] : libraries) {
    PluginHost host;
    ASSERT_EQ(host.Load(path, {}, entry), "");
    for (const char* name : {"_Znwm", "_Znam", "_ZnwmSt11align_val_t", "_ZdlPv", "_ZdlPvm",
                             "_ZdaPv", "_ZdlPvSt11align_val_t"}) {
      EXPECT_EQ(host.Symbol(name), dlsym(RTLD_DEFAULT, name)) << path << " exports " << name;
    }
  }
}

}  // namespace
}  // namespace Zorv::Host
