// JSON text into a tree and a tree back into text, the project's reader and
// writer against RapidJSON's Document, its bare Reader and its Writer.
#include <rapidjson/document.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <benchmark/benchmark.h>

#include <string>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "counting.h"
#include "inputs.h"
#include "logging/allocator.h"

namespace Zorv::Bench {
namespace {

using CountedDocument =
    rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<CountingAllocator>,
                               CountingAllocator>;

// A JSON text for all readers. RapidJSON reads a zero-terminated string
// stream, its fastest input, with SSE2 in aligned 16-byte blocks that may reach
// up to 15 bytes past the terminating zero, so the text carries 16 zeros more.
class Text {
 public:
  explicit Text(std::string text) : size_(text.size()), bytes_(std::move(text)) {
    bytes_.append(16, '\0');
  }
  std::string_view view() const { return {bytes_.data(), size_}; }
  const char* c_str() const { return bytes_.c_str(); }
  size_t size() const { return size_; }

 private:
  size_t size_;
  std::string bytes_;
};

const Text& Records() {
  static const Text text(RecordsJson(5000));
  return text;
}
const Text& Block() {
  static const Text text(MetadataBlock());
  return text;
}

int64_t FrameworkLive() {
  const MemoryCounters c = GetMemoryCounters();
  return static_cast<int64_t>(c.bytesAllocated - c.bytesFreed);
}

void OursRead(benchmark::State& state, const Text& text) {
  for (auto _ : state) {
    BindingResult result = FromJsonText(text.view());
    if (!result.success) state.SkipWithError("the text did not parse");
    benchmark::DoNotOptimize(result);
  }
  // What one tree holds, outside the timed loop.
  const int64_t framework = FrameworkLive();
  const int64_t heap = MallocInUse();
  {
    BindingResult result = FromJsonText(text.view());
    state.counters["tree_bytes"] = static_cast<double>(FrameworkLive() - framework);
    state.counters["heap_bytes"] = static_cast<double>(MallocInUse() - heap);
    benchmark::DoNotOptimize(result);
  }
  SetInput(state, text.size());
}

void DocumentRead(benchmark::State& state, const Text& text) {
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(text.c_str());
    if (document.HasParseError()) state.SkipWithError("the text did not parse");
    benchmark::DoNotOptimize(document);
  }
  const int64_t counted = CountingAllocator::live;
  const int64_t heap = MallocInUse();
  {
    CountedDocument document;
    document.Parse(text.c_str());
    state.counters["tree_bytes"] = static_cast<double>(CountingAllocator::live - counted);
    state.counters["heap_bytes"] = static_cast<double>(MallocInUse() - heap);
    benchmark::DoNotOptimize(document);
  }
  SetInput(state, text.size());
}

// The tokenizer alone: what any tree builder on top of it must add to.
void ReaderRead(benchmark::State& state, const Text& text) {
  for (auto _ : state) {
    rapidjson::Reader reader;
    rapidjson::BaseReaderHandler<> handler;
    rapidjson::StringStream stream(text.c_str());
    if (!reader.Parse(stream, handler)) state.SkipWithError("the text did not parse");
  }
  SetInput(state, text.size());
}

void BM_JsonRead_Ours(benchmark::State& state) {
  OursRead(state, Records());
}
void BM_JsonRead_Document(benchmark::State& state) {
  DocumentRead(state, Records());
}
void BM_JsonRead_Reader(benchmark::State& state) {
  ReaderRead(state, Records());
}
void BM_MetadataRead_Ours(benchmark::State& state) {
  OursRead(state, Block());
}
void BM_MetadataRead_Document(benchmark::State& state) {
  DocumentRead(state, Block());
}
void BM_MetadataRead_Reader(benchmark::State& state) {
  ReaderRead(state, Block());
}
BENCHMARK(BM_JsonRead_Ours);
BENCHMARK(BM_JsonRead_Document);
BENCHMARK(BM_JsonRead_Reader);
BENCHMARK(BM_MetadataRead_Ours);
BENCHMARK(BM_MetadataRead_Document);
BENCHMARK(BM_MetadataRead_Reader);

void BM_JsonWrite_Ours(benchmark::State& state) {
  const BindingResult tree = FromJsonText(Records().view());
  size_t size = 0;
  for (auto _ : state) {
    std::string text = ToJsonText(tree.value);
    size = text.size();
    benchmark::DoNotOptimize(text);
  }
  SetInput(state, size);
}

void BM_JsonWrite_Writer(benchmark::State& state) {
  rapidjson::Document document;
  document.Parse(Records().c_str());
  size_t size = 0;
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    size = buffer.GetSize();
    benchmark::DoNotOptimize(buffer.GetString());
  }
  SetInput(state, size);
}
BENCHMARK(BM_JsonWrite_Ours);
BENCHMARK(BM_JsonWrite_Writer);

}  // namespace
}  // namespace Zorv::Bench
