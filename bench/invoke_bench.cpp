// One endpoint call through the real plug-in library and its C ABI: the host
// library loads libpex_replays.so, a record is created, and each iteration
// reads it back with GET /pex-replays/v1/metadata/{gameId}.
#include <benchmark/benchmark.h>

#include <string>

#include "host/plugin_host.h"

namespace Zorv::Bench {
namespace {

using Host::EndpointAnswer;
using Host::EndpointCall;
using Host::PluginHost;

void BM_InvokeMetadata(benchmark::State& state) {
  PluginHost host;
  if (const std::string error = host.Load(PEX_REPLAYS_PATH); !error.empty())
    return state.SkipWithError(("could not load the plug-in: " + error).c_str());
  if (!host.Initialize()) return state.SkipWithError("the plug-in did not initialise");
  EndpointCall create;
  create.method = HOST_METHOD_POST;
  create.url = "/pex-replays/v2/metadata/5001/create";
  create.contentType = "application/json";
  create.body = R"({"gameVersion":"14.3.1.200","gameType":"CLASSIC","queueId":420})";
  create.hasBody = true;
  if (!host.CallModule(create).ok) return state.SkipWithError("the record was not created");

  for (auto _ : state) {
    EndpointAnswer answer = host.CallModule(HOST_METHOD_GET, "/pex-replays/v1/metadata/5001");
    if (!answer.ok) state.SkipWithError("the call failed");
    benchmark::DoNotOptimize(answer);
  }
  host.Shutdown();
}
BENCHMARK(BM_InvokeMetadata)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace Zorv::Bench
