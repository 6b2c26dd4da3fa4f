// Memory accounting for the peers' trees: a RapidJSON base allocator that
// counts the bytes it holds, and the C library's own figure of bytes in use,
// which sees every allocation whichever allocator made it.
#pragma once

#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <benchmark/benchmark.h>

namespace Zorv::Bench {

// A stand-in for rapidjson::CrtAllocator that keeps a live byte count.
class CountingAllocator {
 public:
  static const bool kNeedFree = true;
  static inline int64_t live = 0;

  void* Malloc(size_t size) {
    if (size == 0) return nullptr;
    void* block = std::malloc(size);
    live += static_cast<int64_t>(malloc_usable_size(block));
    return block;
  }
  void* Realloc(void* block, size_t, size_t newSize) {
    if (newSize == 0) {
      Free(block);
      return nullptr;
    }
    live -= block ? static_cast<int64_t>(malloc_usable_size(block)) : 0;
    void* grown = std::realloc(block, newSize);
    live += static_cast<int64_t>(malloc_usable_size(grown));
    return grown;
  }
  static void Free(void* block) {
    if (block) live -= static_cast<int64_t>(malloc_usable_size(block));
    std::free(block);
  }
  bool operator==(const CountingAllocator&) const { return true; }
  bool operator!=(const CountingAllocator&) const { return false; }
};

// Bytes the C library has handed out and not yet taken back.
inline int64_t MallocInUse() {
  return static_cast<int64_t>(mallinfo2().uordblks);
}

// Reports the input's size as processed bytes and as a counter.
inline void SetInput(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["input_bytes"] = static_cast<double>(bytes);
}

}  // namespace Zorv::Bench
