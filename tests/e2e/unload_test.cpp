// Loading and unloading a plug-in library again and again: unloading frees
// everything the library held (its logger, its idle value pages), so a host
// that cycles a plug-in does not grow. The sanitizer build runs with
// LeakSanitizer, which reports any block that an unloaded library left behind.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "test_plugin/test_plugin_hooks.h"

namespace Zorv::Host {
namespace {

struct Library {
  const char* path;
  const char* entry;
  // What the plug-in does while it runs.
  std::function<void(PluginHost&)> work;
};

void Cycle(const Library& library) {
  PluginHost host;
  ASSERT_EQ(host.Load(library.path, {}, library.entry), "");
  ASSERT_TRUE(host.Initialize());
  library.work(host);
  host.Shutdown();
  host.Unload();
  // Really gone: nothing (a unique symbol, a leftover reference) keeps it mapped.
  void* still = dlopen(library.path, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(still, nullptr) << library.path << " stays loaded";
  if (still) dlclose(still);
}

size_t HeapInUse() {
  return mallinfo2().uordblks;
}

TEST(UnloadTest, LoadInitializeShutdownUnloadCyclesLeaveNothingBehind) {
  const Library libraries[] = {
      {PEX_REPLAYS_PATH, "load_pex_replays", [](PluginHost&) {}},
      // An echo builds value trees, which take pages from the library's page source.
      {E2E_TEST_PLUGIN_PATH, "load_e2e_test_plugin",
       [](PluginHost& host) {
         EndpointCall call;
         call.method = HOST_METHOD_POST;
         call.url = "/e2e-test/v1/echo?tag=t";
         call.contentType = "application/json";
         call.body = R"({"list": [1, 2, 3], "text": ")" + std::string(300, 'x') + R"("})";
         call.hasBody = true;
         const EndpointAnswer answer = host.CallModule(call);
         EXPECT_TRUE(answer.ok) << answer.error;
       }},
  };
  for (const Library& library : libraries) {
    SCOPED_TRACE(library.path);
    // The first cycles settle what the C library and the loader keep for good.
    for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(Cycle(library));
    const size_t before = HeapInUse();
    const int kCycles = 8;
    for (int i = 0; i < kCycles; ++i) ASSERT_NO_FATAL_FAILURE(Cycle(library));
    const size_t after = HeapInUse();
    // A cycle that kept its logger and an idle page chunk grew by about 70 KB.
    EXPECT_LT(after, before + kCycles * 4096) << "grew by " << (after - before) << " bytes";
  }
}

// A quit handed over while the plug-in awaits must not pull the module and its
// code out from under the waiting frames: the host refuses, and the wait
// goes on to its end.
TEST(UnloadTest, ShutdownAndUnloadInsideAWaitAreRefusedUntilItReturns) {
  PluginHost host;
  ASSERT_EQ(host.Load(E2E_TEST_PLUGIN_PATH, {}, "load_e2e_test_plugin"), "");
  ASSERT_TRUE(host.Initialize());
  const auto complete = reinterpret_cast<E2eCompleteHook>(host.Symbol("e2e_complete"));
  const auto await = reinterpret_cast<E2eAwaitHook>(host.Symbol("e2e_await"));
  ASSERT_TRUE(complete && await);
  host.Work().Post([&] {
    EXPECT_FALSE(host.Shutdown());
    host.Unload();
    complete(5);
  });
  EXPECT_EQ(await(), 5);
  EXPECT_EQ(host.Faults(), (std::vector<std::string>{"Shutdown: refused inside a host function",
                                                     "Unload: refused inside a host function"}));
  EXPECT_TRUE(host.Shutdown());
  host.Unload();
}

}  // namespace
}  // namespace Zorv::Host
