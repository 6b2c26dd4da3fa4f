#include "binding/page_source.h"

#include <bit>
#include <cstring>
#include <new>
#include <type_traits>

#include "logging/allocator.h"

namespace Zorv {

namespace {

constexpr size_t kPagesPerChunk = 16;
constexpr uint32_t kAllFree = (uint32_t{1} << kPagesPerChunk) - 1;
// Fully free chunks kept for the next burst before the rest go back.
constexpr size_t kIdleChunksKept = 1;

}  // namespace

struct PageSource::Chunk {
  void* raw;   // as the allocator returned it
  char* base;  // first page, aligned
  Chunk* prev;
  Chunk* next;
  uint32_t freeMask;  // bit i: page i is free
};

// Constant-initialised with a trivial destructor: it is there before any
// static constructor runs and stays usable after every static destructor.
constinit PageSource PageSource::instance_;
static_assert(std::is_trivially_destructible_v<PageSource>);

PageSource& PageSource::Instance() {
  return instance_;
}

// Destroyed with the library's other static objects; values destroyed after
// it still give their pages back, and a chunk they empty is freed at once.
struct PageSourceCloser {
  ~PageSourceCloser() { PageSource::Instance().close(); }
};
static PageSourceCloser gCloser;

void PageSource::close() {
  std::lock_guard lock(mutex_);
  closing_ = true;
  while (Chunk* chunk = idle_) {
    Unlink(idle_, chunk);
    --idleChunks_;
    --heldChunks_;
    Free(chunk->raw);
    Free(chunk);
  }
}

void PageSource::Link(Chunk*& head, Chunk* chunk) {
  chunk->prev = nullptr;
  chunk->next = head;
  if (head) head->prev = chunk;
  head = chunk;
}

void PageSource::Unlink(Chunk*& head, Chunk* chunk) {
  if (chunk->prev) {
    chunk->prev->next = chunk->next;
  } else {
    head = chunk->next;
  }
  if (chunk->next) chunk->next->prev = chunk->prev;
}

PageSource::Chunk* PageSource::newChunk() {
  void* raw = Allocate(kPagesPerChunk * kPageSize + kPageSize - 1);
  if (!raw) throw std::bad_alloc();
  void* record = Allocate(sizeof(Chunk));
  if (!record) {
    Free(raw);
    throw std::bad_alloc();
  }
  const uintptr_t aligned =
      (reinterpret_cast<uintptr_t>(raw) + kPageSize - 1) & ~uintptr_t{kPageSize - 1};
  ++heldChunks_;
  return new (record) Chunk{raw, reinterpret_cast<char*>(aligned), nullptr, nullptr, kAllFree};
}

void* PageSource::take() {
  std::lock_guard lock(mutex_);
  Chunk* chunk = partial_;
  if (!chunk) {
    if (idle_) {
      chunk = idle_;
      Unlink(idle_, chunk);
      --idleChunks_;
    } else {
      chunk = newChunk();
    }
    Link(partial_, chunk);
  }
  const int index = std::countr_zero(chunk->freeMask);
  chunk->freeMask &= ~(uint32_t{1} << index);
  if (chunk->freeMask == 0) Unlink(partial_, chunk);
  ++lentPages_;
  char* page = chunk->base + index * kPageSize;
  std::memcpy(page, &chunk, sizeof chunk);
  return page;
}

void PageSource::give(void* page) {
  Chunk* chunk;
  std::memcpy(&chunk, page, sizeof chunk);
  const size_t index = (static_cast<char*>(page) - chunk->base) / kPageSize;
  std::lock_guard lock(mutex_);
  --lentPages_;
  if (chunk->freeMask == 0) Link(partial_, chunk);
  chunk->freeMask |= uint32_t{1} << index;
  if (chunk->freeMask != kAllFree) return;
  Unlink(partial_, chunk);
  if (!closing_ && idleChunks_ < kIdleChunksKept) {
    Link(idle_, chunk);
    ++idleChunks_;
    return;
  }
  --heldChunks_;
  Free(chunk->raw);
  Free(chunk);
}

PageSource::Stats PageSource::stats() const {
  std::lock_guard lock(mutex_);
  return Stats{lentPages_, heldChunks_};
}

}  // namespace Zorv
