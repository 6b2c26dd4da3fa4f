// The framework's allocator and its counters.
//
// Every allocation of the framework's own code (value arenas, large value
// blocks) goes through Allocate/Free/Reallocate/DuplicateString. The first
// call installs counting hooks over the C library's functions, once; tests or
// hosts may install other hooks with SetAllocatorHooks before that.
// Counters count usable sizes as the C library reports them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zorv {

struct AllocatorHooks {
  void* (*allocate)(size_t size, void* context);
  void (*free)(void* block, void* context);
  void* (*reallocate)(void* block, size_t size, void* context);
  char* (*duplicate)(const char* text, void* context);
  size_t (*usableSize)(void* block, void* context);
  void* context;
};

void* Allocate(size_t size);
void Free(void* block);
void* Reallocate(void* block, size_t size);
char* DuplicateString(const char* text);
size_t UsableSize(void* block);

// A block aligned on `alignment` (a power of two), given back with Free.
// Alignments beyond malloc's come from the C library's aligned_alloc, counted
// like the default hooks count, so hooks that replace the default ones must
// free C library blocks with the C library's free.
void* AllocateAligned(size_t size, size_t alignment);

// Replaces the hooks; no hook may be null.
void SetAllocatorHooks(const AllocatorHooks& hooks);

struct MemoryCounters {
  uint64_t peakLiveBytes = 0;          // 0: peak of bytes allocated minus bytes freed
  uint64_t liveAllocationsAtPeak = 0;  // 1: allocations minus frees at that peak
  uint64_t bytesAllocated = 0;         // 2
  uint64_t allocations = 0;            // 3
  uint64_t bytesFreed = 0;             // 4
  uint64_t frees = 0;                  // 5
};

// A snapshot of the six counters, each read atomically.
MemoryCounters GetMemoryCounters();

}  // namespace Zorv
