#include "failing_allocation.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {
thread_local size_t tFailFrom = SIZE_MAX;
}

namespace Zorv::Testing {

FailLargeAllocations::FailLargeAllocations(size_t minSize) : previous_(tFailFrom) {
  tFailFrom = minSize;
}
FailLargeAllocations::~FailLargeAllocations() {
  tFailFrom = previous_;
}

}  // namespace Zorv::Testing

// Every form of new and delete that can meet another is replaced, so that a
// block always returns to the allocator it came from (the sanitizers check it).
#define PEX_REPLACED __attribute__((visibility("default")))

PEX_REPLACED void* operator new(size_t size) {
  if (size >= tFailFrom) throw std::bad_alloc();
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
PEX_REPLACED void* operator new[](size_t size) {
  return ::operator new(size);
}
PEX_REPLACED void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}
PEX_REPLACED void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return ::operator new(size, std::nothrow);
}
PEX_REPLACED void operator delete(void* block) noexcept {
  std::free(block);
}
PEX_REPLACED void operator delete[](void* block) noexcept {
  std::free(block);
}
PEX_REPLACED void operator delete(void* block, size_t) noexcept {
  std::free(block);
}
PEX_REPLACED void operator delete[](void* block, size_t) noexcept {
  std::free(block);
}
PEX_REPLACED void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
PEX_REPLACED void operator delete[](void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
