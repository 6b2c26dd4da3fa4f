#include "binding/value_arena.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "binding/page_source.h"

namespace Zorv {
namespace {

uintptr_t PageOf(const void* block) {
  return reinterpret_cast<uintptr_t>(block) & ~uintptr_t{4095};
}

class ValueArenaTest : public ::testing::Test {
 protected:
  ~ValueArenaTest() override { ValueArena::Destroy(arena_); }

  // Blocks of one size until the pool takes its first 4096-byte page; the
  // last of them is the first block of that page.
  std::vector<void*> fillFirstPage(size_t size) {
    std::vector<void*> blocks;
    while (arena_->pagesHeld() == 0) blocks.push_back(arena_->allocate(size));
    return blocks;
  }

  ValueArena* arena_ = ValueArena::Create();
};

TEST_F(ValueArenaTest, SizesShareAClassWhenTheyRoundToTheSameMultipleOfFour) {
  void* block = arena_->allocate(5);
  arena_->deallocate(block, 5);
  EXPECT_EQ(arena_->allocate(8), block) << "5 and 8 both take 8-byte blocks";
  void* other = arena_->allocate(9);
  EXPECT_NE(other, block);
  arena_->deallocate(other, 9);
  EXPECT_EQ(arena_->allocate(12), other);
  EXPECT_EQ(arena_->liveBlocks(), 2u);
}

TEST_F(ValueArenaTest, FirstPageOfEachPoolHolds144BytesOfBlocks) {
  for (size_t size : {4u, 24u, 72u}) {
    const std::vector<void*> blocks = fillFirstPage(size);
    EXPECT_EQ(blocks.size(), 144 / size + 1) << "size " << size;
    EXPECT_EQ(arena_->pagesHeld(), 1u);
    for (void* block : blocks) arena_->deallocate(block, size);
    EXPECT_EQ(arena_->pagesHeld(), 0u);
  }
}

TEST_F(ValueArenaTest, FreedBlockIsTheNextOneHandedOutOnItsPage) {
  std::vector<void*> blocks = fillFirstPage(16);
  for (int i = 0; i < 10; ++i) blocks.push_back(arena_->allocate(16));
  void* freed = blocks[blocks.size() - 5];
  arena_->deallocate(freed, 16);
  EXPECT_EQ(arena_->allocate(16), freed);
  void* onFirstPage = blocks[1];
  arena_->deallocate(onFirstPage, 16);
  EXPECT_EQ(arena_->allocate(16), onFirstPage);
}

TEST_F(ValueArenaTest, EmptiedPageGoesBackToThePageSource) {
  PageSource& source = PageSource::Instance();
  const size_t lentBefore = source.stats().lentPages;
  std::vector<void*> firstPage = fillFirstPage(32);
  std::vector<void*> page{firstPage.back()};  // the first block of the 4096-byte page
  firstPage.pop_back();
  const uintptr_t pageAddress = PageOf(page.front());
  EXPECT_EQ(source.stats().lentPages, lentBefore + 1);
  EXPECT_GE(reinterpret_cast<uintptr_t>(page.front()) - pageAddress, PageSource::kReservedBytes)
      << "blocks start after the page header";
  for (;;) {
    void* block = arena_->allocate(32);
    if (PageOf(block) != pageAddress) {
      EXPECT_EQ(arena_->pagesHeld(), 2u);
      arena_->deallocate(block, 32);
      break;
    }
    page.push_back(block);
  }
  EXPECT_EQ(arena_->pagesHeld(), 1u) << "the second page emptied and went back";
  EXPECT_GT(page.size(), 100u);
  for (size_t i = 0; i + 1 < page.size(); ++i) arena_->deallocate(page[i], 32);
  EXPECT_EQ(arena_->pagesHeld(), 1u) << "one block still in use";
  arena_->deallocate(page.back(), 32);
  EXPECT_EQ(arena_->pagesHeld(), 0u);
  EXPECT_EQ(source.stats().lentPages, lentBefore);
  for (void* block : firstPage) arena_->deallocate(block, 32);
  EXPECT_EQ(arena_->liveBlocks(), 0u);
}

TEST_F(ValueArenaTest, BlocksNeverOverlapThroughRandomAllocateAndFree) {
  struct Live {
    unsigned char* block;
    size_t size;
    unsigned char mark;
  };
  std::mt19937 random(7);
  std::vector<Live> live;
  unsigned char mark = 0;
  for (int round = 0; round < 40'000; ++round) {
    if (live.empty() || random() % 3 != 0) {
      const size_t size = 1 + random() % 100;  // pool and large blocks alike
      auto* block = static_cast<unsigned char*>(arena_->allocate(size));
      std::memset(block, ++mark, size);
      live.push_back({block, size, mark});
      if (size % 8 == 0) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u) << "size " << size;
      }
    } else {
      const size_t index = random() % live.size();
      const Live& gone = live[index];
      ASSERT_TRUE(std::all_of(gone.block, gone.block + gone.size,
                              [&](unsigned char c) { return c == gone.mark; }))
          << "a block of " << gone.size << " bytes was overwritten";
      arena_->deallocate(gone.block, gone.size);
      live[index] = live.back();
      live.pop_back();
    }
  }
  EXPECT_EQ(arena_->liveBlocks(), live.size());
  for (const Live& block : live) arena_->deallocate(block.block, block.size);
  EXPECT_EQ(arena_->liveBlocks(), 0u);
  EXPECT_EQ(arena_->pagesHeld(), 0u);
}

// Pages are held exactly while a live pool block is on them, whatever mix of
// fresh blocks, freed ones and moves led there: a page counted short goes back
// to the page source under live blocks, one counted long is never given back.
TEST_F(ValueArenaTest, PagesHeldAreThePagesOfLiveBlocksThroughMixedUse) {
  const auto inArena = [this](const void* block) {
    const auto at = reinterpret_cast<uintptr_t>(block);
    const auto arena = reinterpret_cast<uintptr_t>(arena_);
    return at - arena < sizeof(ValueArena);
  };
  std::map<uintptr_t, size_t> blocksOnPage;
  const auto count = [&](void* block, size_t size, int change) {
    if (size > ValueArena::kLargestPoolBlock || inArena(block)) return;
    size_t& blocks = blocksOnPage[PageOf(block)];
    blocks += change;
    if (blocks == 0) blocksOnPage.erase(PageOf(block));
  };
  struct Live {
    void* block;
    size_t size;
  };
  std::mt19937 random(11);
  std::vector<Live> live;
  for (int round = 0; round < 30'000; ++round) {
    const unsigned action = live.empty() ? 0 : random() % 8;
    if (action < 4) {
      // Mostly runs of one size, as a reader making nodes does.
      const size_t size = random() % 4 == 0 ? 1 + random() % 100 : 64;
      live.push_back({arena_->allocate(size), size});
      count(live.back().block, size, +1);
    } else if (action < 7) {
      const size_t index = random() % live.size();
      count(live[index].block, live[index].size, -1);
      arena_->deallocate(live[index].block, live[index].size);
      live[index] = live.back();
      live.pop_back();
    } else {
      Live& moved = live[random() % live.size()];
      const size_t size = 1 + random() % 100;
      count(moved.block, moved.size, -1);
      moved.block = arena_->reallocate(moved.block, moved.size, size);
      moved.size = size;
      count(moved.block, moved.size, +1);
    }
    ASSERT_EQ(arena_->pagesHeld(), blocksOnPage.size()) << "round " << round;
    ASSERT_EQ(arena_->liveBlocks(), live.size()) << "round " << round;
  }
  for (const Live& block : live) arena_->deallocate(block.block, block.size);
  EXPECT_EQ(arena_->pagesHeld(), 0u);
}

TEST_F(ValueArenaTest, ReallocateKeepsContentsAcrossPoolAndLargeBlocks) {
  auto* block = static_cast<unsigned char*>(arena_->allocate(20));
  for (int i = 0; i < 20; ++i) block[i] = static_cast<unsigned char>(i);
  for (size_t size : {24u, 72u, 200u, 5000u, 100u, 40u}) {
    block = static_cast<unsigned char*>(arena_->reallocate(block, 20, size));
    for (int i = 0; i < 20; ++i) ASSERT_EQ(block[i], i) << "grown to " << size;
    block = static_cast<unsigned char*>(arena_->reallocate(block, size, 20));
    for (int i = 0; i < 20; ++i) ASSERT_EQ(block[i], i) << "shrunk from " << size;
  }
  EXPECT_EQ(arena_->liveBlocks(), 1u);
  auto* large = static_cast<unsigned char*>(arena_->allocate(1000));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(large) % 16, 0u);
  EXPECT_EQ(arena_->liveBlocks(), 2u);
}

TEST_F(ValueArenaTest, ResetFreesEveryBlockAndKeepsTheArenaUsable) {
  const size_t lentBefore = PageSource::Instance().stats().lentPages;
  for (int i = 0; i < 5000; ++i) arena_->allocate(1 + i % 300);
  EXPECT_GT(arena_->pagesHeld(), 0u);
  arena_->reset();  // the large blocks too: the leak checker would see them
  EXPECT_EQ(arena_->liveBlocks(), 0u);
  EXPECT_EQ(arena_->pagesHeld(), 0u);
  EXPECT_EQ(PageSource::Instance().stats().lentPages, lentBefore);
  void* block = arena_->allocate(8);
  arena_->deallocate(block, 8);
  EXPECT_EQ(arena_->liveBlocks(), 0u);
}

TEST(PageSource, PagesAreAlignedAndIdleChunksGoBackToTheAllocator) {
  PageSource& source = PageSource::Instance();
  const PageSource::Stats before = source.stats();
  std::vector<void*> pages;
  std::set<uintptr_t> distinct;
  for (int i = 0; i < 100; ++i) {
    pages.push_back(source.take());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pages.back()) % 4096, 0u);
    std::memset(static_cast<char*>(pages.back()) + PageSource::kReservedBytes, 0xab,
                4096 - PageSource::kReservedBytes);
    distinct.insert(reinterpret_cast<uintptr_t>(pages.back()));
  }
  EXPECT_EQ(distinct.size(), 100u);
  EXPECT_EQ(source.stats().lentPages, before.lentPages + 100);
  EXPECT_GE(source.stats().heldChunks, before.heldChunks + 100 / 16);
  for (void* page : pages) source.give(page);
  EXPECT_EQ(source.stats().lentPages, before.lentPages);
  EXPECT_LE(source.stats().heldChunks, before.heldChunks + 1) << "at most one idle chunk is kept";
}

}  // namespace
}  // namespace Zorv
