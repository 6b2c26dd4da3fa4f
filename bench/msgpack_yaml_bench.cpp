// MessagePack and YAML into a tree: the project's readers against msgpack-c's
// unpack, libyaml's bare event loop (the floor under any YAML tree) and
// yaml-cpp's Load.
#include <yaml.h>

#include <yaml-cpp/yaml.h>
#include <msgpack.hpp>

#include <benchmark/benchmark.h>

#include <string>

#include "binding/msgpack_reader.h"
#include "binding/yaml_reader.h"
#include "counting.h"
#include "inputs.h"

namespace Zorv::Bench {
namespace {

const std::string& MsgPack() {
  static const std::string bytes = RecordsMsgPack(5000);
  return bytes;
}
// About 205 KB of block mappings.
const std::string& Yaml() {
  static const std::string text = RecordsYaml(1600);
  return text;
}

void BM_MsgPackRead_Ours(benchmark::State& state) {
  const auto* data = reinterpret_cast<const uint8_t*>(MsgPack().data());
  for (auto _ : state) {
    MsgPackDecodeResult result = DecodeMsgPack(data, MsgPack().size());
    if (!result.result.success) state.SkipWithError("the bytes did not decode");
    benchmark::DoNotOptimize(result);
  }
  SetInput(state, MsgPack().size());
}

void BM_MsgPackRead_Unpack(benchmark::State& state) {
  for (auto _ : state) {
    msgpack::object_handle handle = msgpack::unpack(MsgPack().data(), MsgPack().size());
    benchmark::DoNotOptimize(handle.get());
  }
  SetInput(state, MsgPack().size());
}
BENCHMARK(BM_MsgPackRead_Ours);
BENCHMARK(BM_MsgPackRead_Unpack);

void BM_YamlRead_Ours(benchmark::State& state) {
  for (auto _ : state) {
    BindingResult result = ParseYaml(Yaml());
    if (!result.success) state.SkipWithError("the text did not parse");
    benchmark::DoNotOptimize(result);
  }
  SetInput(state, Yaml().size());
}

void BM_YamlRead_LibyamlEvents(benchmark::State& state) {
  for (auto _ : state) {
    yaml_parser_t parser;
    yaml_parser_initialize(&parser);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(Yaml().data()),
                                 Yaml().size());
    yaml_event_t event;
    bool done = false;
    while (!done) {
      if (!yaml_parser_parse(&parser, &event)) {
        state.SkipWithError("the text did not parse");
        break;
      }
      done = event.type == YAML_STREAM_END_EVENT;
      yaml_event_delete(&event);
    }
    yaml_parser_delete(&parser);
  }
  SetInput(state, Yaml().size());
}

void BM_YamlRead_YamlCpp(benchmark::State& state) {
  for (auto _ : state) {
    YAML::Node node = YAML::Load(Yaml());
    benchmark::DoNotOptimize(node);
  }
  SetInput(state, Yaml().size());
}
BENCHMARK(BM_YamlRead_Ours);
BENCHMARK(BM_YamlRead_LibyamlEvents);
BENCHMARK(BM_YamlRead_YamlCpp);

}  // namespace
}  // namespace Zorv::Bench
