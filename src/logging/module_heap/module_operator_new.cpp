// The global operator new and delete of a loadable module, in every form
// (plain, array, sized, aligned, nothrow), over the framework's allocator, so
// that the module's own C++ allocations move the memory counters the host
// reads. Compiled into the module libraries only, never into executables.
//
// The definitions are hidden: calls inside the module bind to them, nothing
// is exported, and the host process keeps the C++ runtime's operators. A
// block may still cross over (made by the runtime's operator new inside a
// library function, freed here, or the other way round): both sides end in
// the C library's malloc and free, so a release build survives it with only
// the counters seeing a free without its allocation, but AddressSanitizer
// stops on it as a mismatch. Module code therefore never lets the runtime
// grow a string it keeps (no std::ostringstream::str(); see replays_text.cpp).
#include <new>

#include "logging/allocator.h"

// The compiler insists that replaced operators keep the default visibility of
// their declarations in <new>; the assembler directives hide them after all.
asm(R"(
  .hidden _Znwm
  .hidden _Znam
  .hidden _ZnwmSt11align_val_t
  .hidden _ZnamSt11align_val_t
  .hidden _ZnwmRKSt9nothrow_t
  .hidden _ZnamRKSt9nothrow_t
  .hidden _ZnwmSt11align_val_tRKSt9nothrow_t
  .hidden _ZnamSt11align_val_tRKSt9nothrow_t
  .hidden _ZdlPv
  .hidden _ZdaPv
  .hidden _ZdlPvm
  .hidden _ZdaPvm
  .hidden _ZdlPvSt11align_val_t
  .hidden _ZdaPvSt11align_val_t
  .hidden _ZdlPvmSt11align_val_t
  .hidden _ZdaPvmSt11align_val_t
  .hidden _ZdlPvRKSt9nothrow_t
  .hidden _ZdaPvRKSt9nothrow_t
  .hidden _ZdlPvSt11align_val_tRKSt9nothrow_t
  .hidden _ZdaPvSt11align_val_tRKSt9nothrow_t
)");

namespace {

// As the standard operator new does: ask the new-handler for memory until the
// allocation succeeds, and throw std::bad_alloc when there is no handler.
void* AllocateOrThrow(std::size_t size, std::size_t alignment) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* block = Zorv::AllocateAligned(size, alignment)) return block;
    std::new_handler handler = std::get_new_handler();
    if (!handler) throw std::bad_alloc();
    handler();
  }
}

void* AllocateOrNull(std::size_t size, std::size_t alignment) noexcept {
  try {
    return AllocateOrThrow(size, alignment);
  } catch (...) {
    return nullptr;
  }
}

constexpr std::size_t kPlain = alignof(std::max_align_t);

std::size_t Alignment(std::align_val_t alignment) {
  return static_cast<std::size_t>(alignment);
}

}  // namespace

void* operator new(std::size_t size) {
  return AllocateOrThrow(size, kPlain);
}
void* operator new[](std::size_t size) {
  return AllocateOrThrow(size, kPlain);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return AllocateOrThrow(size, Alignment(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AllocateOrThrow(size, Alignment(alignment));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size, kPlain);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size, kPlain);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size, Alignment(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size, Alignment(alignment));
}

void operator delete(void* block) noexcept {
  Zorv::Free(block);
}
void operator delete[](void* block) noexcept {
  Zorv::Free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  Zorv::Free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  Zorv::Free(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  Zorv::Free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  Zorv::Free(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  Zorv::Free(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  Zorv::Free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  Zorv::Free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  Zorv::Free(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Zorv::Free(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Zorv::Free(block);
}
