#include "binding/value_arena.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstring>
#include <new>
#include <type_traits>

#include "binding/page_source.h"
#include "logging/allocator.h"

namespace Zorv {

static_assert(ValueArena::kPageSize == PageSource::kPageSize);

namespace {

// Blocks per first page and per page of each size class, worked out once:
// setting up an arena's 18 pools must not cost 18 divisions.
template <size_t kBytes>
constexpr std::array<uint16_t, ValueArena::kSizeClasses> BlocksPerClass() {
  std::array<uint16_t, ValueArena::kSizeClasses> blocks{};
  for (size_t i = 0; i < blocks.size(); ++i)
    blocks[i] = static_cast<uint16_t>(kBytes / (4 * (i + 1)));
  return blocks;
}

}  // namespace

ValueArena* ValueArena::Create() {
  void* memory = Allocate(sizeof(ValueArena));
  if (!memory) throw std::bad_alloc();
  return new (memory) ValueArena();
}

void ValueArena::Destroy(ValueArena* arena) {
  arena->~ValueArena();
  Free(arena);
}

ValueArena::ValueArena() {
  static_assert(sizeof(PageHeader) == 32 && sizeof(PageHeader) >= PageSource::kReservedBytes);
  static_assert(offsetof(FirstPage, blocks) == sizeof(PageHeader),
                "the first page's blocks follow its header like on any page");
  static_assert(sizeof(LargeBlock) == 16);
  static_assert(std::is_trivial_v<Pool>);
  std::memset(pools_, 0, sizeof pools_);
}

ValueArena::~ValueArena() {
  releaseAll();
}

ValueArena::PageHeader* ValueArena::setUpFirstPage(size_t sizeClass) {
  static constexpr auto kFirstPageBlocks = BlocksPerClass<kFirstPageBytes>();
  PageHeader* page = &firstPages_[sizeClass].header;
  *page = PageHeader{nullptr, nullptr, nullptr, 0, 0, 0, kFirstPageBlocks[sizeClass]};
  pools_[sizeClass].available = page;
  return page;
}

void* ValueArena::takeSlow(size_t sizeClass) {
  Pool& pool = pools_[sizeClass];
  const size_t blockSize = BlockSize(sizeClass);
  if (pool.end) EndRun(pool, blockSize);
  PageHeader* page = pool.available;
  if (!page) page = pool.full ? addPage(sizeClass) : setUpFirstPage(sizeClass);
  char* block;
  if (page->firstFree != 0) {
    block = BlocksOf(page) + (page->firstFree - 1) * blockSize;
    std::memcpy(&page->firstFree, block, sizeof page->firstFree);
    if (++page->inUse == page->capacity) {
      Remove(pool.available, page);
      Push(pool.full, page);
    }
  } else {
    // No free block on a page that is not full: its untouched ones start a run.
    block = BlocksOf(page) + page->touched * blockSize;
    pool.cursor = block + blockSize;
    pool.end = BlocksOf(page) + page->capacity * blockSize;
  }
  ++liveBlocks_;
  return block;
}

void ValueArena::EndRun(Pool& pool, size_t blockSize) {
  PageHeader* page = pool.available;
  const char* start = BlocksOf(page) + page->touched * blockSize;
  const auto taken = static_cast<uint16_t>(static_cast<size_t>(pool.cursor - start) / blockSize);
  page->touched = static_cast<uint16_t>(page->touched + taken);
  page->inUse = static_cast<uint16_t>(page->inUse + taken);
  pool.cursor = nullptr;
  pool.end = nullptr;
  if (page->inUse == page->capacity) {
    Remove(pool.available, page);
    Push(pool.full, page);
  }
}

void* ValueArena::reallocate(void* block, size_t oldSize, size_t newSize) {
  if (oldSize > kLargestPoolBlock && newSize > kLargestPoolBlock) {
    return reallocateLarge(block, newSize);
  }
  if (oldSize <= kLargestPoolBlock && newSize <= kLargestPoolBlock &&
      ClassOf(oldSize) == ClassOf(newSize)) {
    return block;
  }
  void* moved = allocate(newSize);
  std::memcpy(moved, block, std::min(oldSize, newSize));
  deallocate(block, oldSize);
  return moved;
}

void ValueArena::reset() {
  releaseAll();
  std::memset(pools_, 0, sizeof pools_);
}

void ValueArena::releaseAll() {
  static_assert(kSizeClasses <= 32);
  // Only pools that took pages have any to give back.
  for (uint32_t pending = poolsWithPages_; pending != 0; pending &= pending - 1) {
    const auto sizeClass = static_cast<size_t>(std::countr_zero(pending));
    const Pool& pool = pools_[sizeClass];
    const PageHeader* first = &firstPages_[sizeClass].header;
    for (PageHeader* list : {pool.available, pool.full}) {
      while (list) {
        PageHeader* page = list;
        list = page->next;
        if (page != first) PageSource::Instance().give(page);
      }
    }
  }
  poolsWithPages_ = 0;
  while (large_) {
    LargeBlock* block = large_;
    large_ = block->next;
    Free(block);
  }
  liveBlocks_ = 0;
  pagesHeld_ = 0;
}

ValueArena::PageHeader* ValueArena::addPage(size_t sizeClass) {
  Pool& pool = pools_[sizeClass];
  auto* page = static_cast<PageHeader*>(PageSource::Instance().take());
  page->inUse = 0;
  page->firstFree = 0;
  page->touched = 0;
  static constexpr auto kPageBlocks = BlocksPerClass<kPageSize - sizeof(PageHeader)>();
  page->capacity = kPageBlocks[sizeClass];
  poolsWithPages_ |= uint32_t{1} << sizeClass;
  Push(pool.available, page);
  ++pagesHeld_;
  return page;
}

void ValueArena::releasePage(Pool& pool, PageHeader* page) {
  Remove(pool.available, page);
  PageSource::Instance().give(page);
  --pagesHeld_;
}

void* ValueArena::allocateLarge(size_t size) {
  if (size > SIZE_MAX - sizeof(LargeBlock)) throw std::bad_alloc();
  auto* block = static_cast<LargeBlock*>(Allocate(sizeof(LargeBlock) + size));
  if (!block) throw std::bad_alloc();
  block->prev = nullptr;
  block->next = large_;
  if (large_) large_->prev = block;
  large_ = block;
  ++liveBlocks_;
  return block + 1;
}

void ValueArena::deallocateLarge(void* at) {
  LargeBlock* block = static_cast<LargeBlock*>(at) - 1;
  if (block->prev) {
    block->prev->next = block->next;
  } else {
    large_ = block->next;
  }
  if (block->next) block->next->prev = block->prev;
  --liveBlocks_;
  Free(block);
}

void* ValueArena::reallocateLarge(void* at, size_t size) {
  if (size > SIZE_MAX - sizeof(LargeBlock)) throw std::bad_alloc();
  LargeBlock* block = static_cast<LargeBlock*>(at) - 1;
  auto* moved = static_cast<LargeBlock*>(Reallocate(block, sizeof(LargeBlock) + size));
  if (!moved) throw std::bad_alloc();
  if (moved->prev) {
    moved->prev->next = moved;
  } else {
    large_ = moved;
  }
  if (moved->next) moved->next->prev = moved;
  return moved + 1;
}

}  // namespace Zorv
