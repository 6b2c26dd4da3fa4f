// Loading and unloading the real plug-in library again and again: unloading
// frees everything the library held (its logger, its idle value pages), so a
// host that cycles a plug-in does not grow. The sanitizer build runs with
// LeakSanitizer, which reports any block that an unloaded library left behind.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstddef>
#include <string>

#include "host/plugin_host.h"

namespace Zorv::Host {
namespace {

void Cycle() {
  PluginHost host;
  ASSERT_EQ(host.Load(PEX_REPLAYS_PATH), "");
  ASSERT_TRUE(host.Initialize());
  host.Shutdown();
  host.Unload();
  EXPECT_EQ(host.Symbol("load_pex_replays"), nullptr);
}

size_t HeapInUse() {
  return mallinfo2().uordblks;
}

TEST(UnloadTest, LoadInitializeShutdownUnloadCyclesLeaveNothingBehind) {
  // The first cycles settle what the C library and the loader keep for good.
  for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(Cycle());
  const size_t before = HeapInUse();
  const int kCycles = 8;
  for (int i = 0; i < kCycles; ++i) ASSERT_NO_FATAL_FAILURE(Cycle());
  const size_t after = HeapInUse();
  // A cycle that kept its logger and an idle page chunk grew by about 70 KB.
  EXPECT_LT(after, before + kCycles * 4096) << "grew by " << (after - before) << " bytes";
}

}  // namespace
}  // namespace Zorv::Host
