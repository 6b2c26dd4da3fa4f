#include "logging/allocator.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace Zorv {
namespace {

struct Counters {
  std::atomic<uint64_t> peakLiveBytes{0};
  std::atomic<uint64_t> liveAllocationsAtPeak{0};
  std::atomic<uint64_t> bytesAllocated{0};
  std::atomic<uint64_t> allocations{0};
  std::atomic<uint64_t> bytesFreed{0};
  std::atomic<uint64_t> frees{0};
};

Counters& GlobalCounters() {
  static Counters counters;
  return counters;
}

void CountAllocated(size_t usable) {
  Counters& c = GlobalCounters();
  const uint64_t allocated = c.bytesAllocated.fetch_add(usable) + usable;
  const uint64_t count = c.allocations.fetch_add(1) + 1;
  // A block that the module frees but did not allocate (one that the C++
  // runtime made, released by the module's operator delete) is counted as
  // freed only: live bytes then read as 0 rather than wrap around.
  const uint64_t freed = c.bytesFreed.load();
  const uint64_t live = allocated > freed ? allocated - freed : 0;
  uint64_t peak = c.peakLiveBytes.load();
  while (live > peak) {
    if (c.peakLiveBytes.compare_exchange_weak(peak, live)) {
      const uint64_t frees = c.frees.load();
      c.liveAllocationsAtPeak.store(count > frees ? count - frees : 0);
      break;
    }
  }
}

void CountFreed(size_t usable) {
  Counters& c = GlobalCounters();
  c.bytesFreed.fetch_add(usable);
  c.frees.fetch_add(1);
}

void* CountingAllocate(size_t size, void*) {
  void* block = std::malloc(size);
  if (block) CountAllocated(malloc_usable_size(block));
  return block;
}

void CountingFree(void* block, void*) {
  if (!block) return;
  const size_t usable = malloc_usable_size(block);
  std::free(block);
  CountFreed(usable);
}

void* CountingReallocate(void* block, size_t size, void*) {
  const size_t oldUsable = block ? malloc_usable_size(block) : 0;
  void* moved = std::realloc(block, size);
  if (!moved && size != 0) return nullptr;  // the old block is untouched
  if (block) CountFreed(oldUsable);
  if (moved) CountAllocated(malloc_usable_size(moved));
  return moved;
}

char* CountingDuplicate(const char* text, void*) {
  char* copy = strdup(text);
  if (copy) CountAllocated(malloc_usable_size(copy));
  return copy;
}

size_t CountingUsableSize(void* block, void*) {
  return block ? malloc_usable_size(block) : 0;
}

// Installed once, on the first use of the framework's allocator.
AllocatorHooks& Hooks() {
  static AllocatorHooks hooks{CountingAllocate,  CountingFree,       CountingReallocate,
                              CountingDuplicate, CountingUsableSize, nullptr};
  return hooks;
}

}  // namespace

void* Allocate(size_t size) {
  const AllocatorHooks& h = Hooks();
  return h.allocate(size, h.context);
}

void Free(void* block) {
  const AllocatorHooks& h = Hooks();
  h.free(block, h.context);
}

void* Reallocate(void* block, size_t size) {
  const AllocatorHooks& h = Hooks();
  return h.reallocate(block, size, h.context);
}

char* DuplicateString(const char* text) {
  const AllocatorHooks& h = Hooks();
  return h.duplicate(text, h.context);
}

size_t UsableSize(void* block) {
  const AllocatorHooks& h = Hooks();
  return h.usableSize(block, h.context);
}

void* AllocateAligned(size_t size, size_t alignment) {
  if (alignment <= alignof(std::max_align_t)) return Allocate(size);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const size_t rounded = (size + alignment - 1) & ~(alignment - 1);
  if (rounded < size) return nullptr;
  void* block = std::aligned_alloc(alignment, rounded != 0 ? rounded : alignment);
  if (block) CountAllocated(malloc_usable_size(block));
  return block;
}

void SetAllocatorHooks(const AllocatorHooks& hooks) {
  Hooks() = hooks;
}

MemoryCounters GetMemoryCounters() {
  const Counters& c = GlobalCounters();
  return MemoryCounters{c.peakLiveBytes.load(),  c.liveAllocationsAtPeak.load(),
                        c.bytesAllocated.load(), c.allocations.load(),
                        c.bytesFreed.load(),     c.frees.load()};
}

}  // namespace Zorv
