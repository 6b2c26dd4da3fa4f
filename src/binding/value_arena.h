// ValueArena: the memory of one value tree. A root value creates it on its
// first allocation and destroys it with the tree; every string, blob, element
// array and structure node of the tree comes from it.
//
// Blocks of up to 72 bytes come from 18 size-class pools (sizes rounded up to
// a multiple of 4). A pool's first 144 bytes of blocks live inside the arena,
// set up when the pool is first used, so a small tree pays only for its sizes;
// further pages are 4096 bytes, aligned on 4096, from the process-wide
// PageSource, so the page of a block is its address with the low 12 bits
// cleared. Each page counts its blocks in use and chains its free blocks
// through 16-bit indices (0 ends the chain); a page whose blocks are all free
// again goes back to the page source at once. Larger blocks come straight
// from the framework allocator and are listed so that reset() and the
// arena's destruction free them with the tree.
//
// A pool hands out the never-used blocks of its current page by bumping a
// cursor; the page's counts catch up when the run ends (the page fills, or a
// block of the pool is given back), so freed blocks are still handed out
// before untouched ones and every count is exact whenever it is read.
//
// Alignment: a pool block is 8-byte aligned when its size is a multiple of 8
// (else 4); a large block is 16-byte aligned.
//
// Not synchronized: one tree, one thread at a time.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Zorv {

class ValueArena {
 public:
  static constexpr size_t kSizeClasses = 18;
  static constexpr size_t kLargestPoolBlock = 4 * kSizeClasses;  // 72
  static constexpr size_t kFirstPageBytes = 144;
  static constexpr size_t kPageSize = 4096;

  // Through the framework allocator; throws std::bad_alloc when it fails.
  static ValueArena* Create();
  // Frees every block of the arena and the arena itself.
  static void Destroy(ValueArena* arena);

  ValueArena(const ValueArena&) = delete;
  ValueArena& operator=(const ValueArena&) = delete;

  // REQUIRES: size > 0. Throws std::bad_alloc when memory runs out.
  void* allocate(size_t size);
  // REQUIRES: `block` came from this arena with this `size` (as given to
  // allocate() or, last, to reallocate()).
  void deallocate(void* block, size_t size);
  // Moves the first min(oldSize, newSize) bytes into a block of `newSize`.
  void* reallocate(void* block, size_t oldSize, size_t newSize);
  // Frees every block at once; pages go back to the page source.
  void reset();

  // Blocks handed out and not freed, pool and large alike.
  size_t liveBlocks() const { return liveBlocks_; }
  // 4096-byte pages taken from the page source and not given back.
  size_t pagesHeld() const { return pagesHeld_; }

 private:
  struct PageHeader {
    void* sourceReserved;  // the page source's word
    PageHeader* prev;
    PageHeader* next;
    uint16_t inUse;
    uint16_t firstFree;  // 1-based block index, 0: none
    uint16_t touched;    // blocks [0, touched) have been handed out at least once
    uint16_t capacity;
  };
  // A pool's own page inside the arena, laid out like any page.
  struct FirstPage {
    PageHeader header;
    alignas(8) unsigned char blocks[kFirstPageBytes];
  };
  // All zero: not used yet (its first page is not set up, since once set up
  // that page is always on one of the lists).
  struct Pool {
    // The run of untouched blocks being handed out, [cursor, end), on the
    // page at the head of `available`, whose inUse and touched do not yet
    // count the blocks handed out of it. end is null when no run is open.
    char* cursor;
    char* end;
    PageHeader* available;  // pages with a free block
    PageHeader* full;
  };
  struct LargeBlock {
    LargeBlock* prev;
    LargeBlock* next;
  };

  ValueArena();
  ~ValueArena();

  static size_t ClassOf(size_t size) { return (size + 3) / 4 - 1; }
  static char* BlocksOf(PageHeader* page) { return reinterpret_cast<char*>(page + 1); }
  static void Push(PageHeader*& head, PageHeader* page);
  static void Remove(PageHeader*& head, PageHeader* page);
  static size_t BlockSize(size_t sizeClass) { return 4 * (sizeClass + 1); }

  // Gives every page and large block back, leaving the pools as they are.
  void releaseAll();
  void* take(size_t sizeClass);
  void* takeSlow(size_t sizeClass);
  // Counts the open run's blocks on its page and closes the run.
  static void EndRun(Pool& pool, size_t blockSize);
  void give(size_t sizeClass, void* block);
  PageHeader* setUpFirstPage(size_t sizeClass);
  PageHeader* addPage(size_t sizeClass);
  void releasePage(Pool& pool, PageHeader* page);
  void* allocateLarge(size_t size);
  void deallocateLarge(void* block);
  void* reallocateLarge(void* block, size_t size);

  Pool pools_[kSizeClasses];
  FirstPage firstPages_[kSizeClasses];
  LargeBlock* large_ = nullptr;
  size_t liveBlocks_ = 0;
  size_t pagesHeld_ = 0;
  // Bit c: pool c has taken a page from the page source since the last reset.
  uint32_t poolsWithPages_ = 0;
};

// Taking and giving pool blocks is inline: value trees do it per node.

inline void ValueArena::Push(PageHeader*& head, PageHeader* page) {
  page->prev = nullptr;
  page->next = head;
  if (head) head->prev = page;
  head = page;
}

inline void ValueArena::Remove(PageHeader*& head, PageHeader* page) {
  if (page->prev) {
    page->prev->next = page->next;
  } else {
    head = page->next;
  }
  if (page->next) page->next->prev = page->prev;
}

inline void* ValueArena::allocate(size_t size) {
  assert(size > 0);
  if (size > kLargestPoolBlock) return allocateLarge(size);
  return take(ClassOf(size));
}

inline void ValueArena::deallocate(void* block, size_t size) {
  if (size > kLargestPoolBlock) {
    deallocateLarge(block);
  } else {
    give(ClassOf(size), block);
  }
}

inline void* ValueArena::take(size_t sizeClass) {
  Pool& pool = pools_[sizeClass];
  if (pool.cursor != pool.end) {
    char* block = pool.cursor;
    pool.cursor = block + BlockSize(sizeClass);
    ++liveBlocks_;
    return block;
  }
  return takeSlow(sizeClass);
}

inline void ValueArena::give(size_t sizeClass, void* block) {
  Pool& pool = pools_[sizeClass];
  const size_t blockSize = BlockSize(sizeClass);
  if (pool.end) EndRun(pool, blockSize);
  char* at = static_cast<char*>(block);
  const uintptr_t address = reinterpret_cast<uintptr_t>(at);
  FirstPage& first = firstPages_[sizeClass];
  // The first page sits inside the arena, so only its range tells it apart.
  const bool onFirstPage = address - reinterpret_cast<uintptr_t>(first.blocks) < kFirstPageBytes;
  PageHeader* page = onFirstPage
                         ? &first.header
                         : reinterpret_cast<PageHeader*>(address & ~uintptr_t{kPageSize - 1});
  const auto index = static_cast<uint16_t>((at - BlocksOf(page)) / blockSize + 1);
  std::memcpy(at, &page->firstFree, sizeof page->firstFree);
  page->firstFree = index;
  if (page->inUse-- == page->capacity) {
    Remove(pool.full, page);
    Push(pool.available, page);
  }
  --liveBlocks_;
  if (page->inUse == 0 && !onFirstPage) releasePage(pool, page);
}

}  // namespace Zorv
