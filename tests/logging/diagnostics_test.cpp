#include "logging/diagnostics.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "logging/allocator.h"

namespace Zorv {
namespace {

struct ReportCase {
  const char* name;
  const char* expression;
  const char* description;
  const char* file;
  int line;
  const char* function;
  const char* expected;
};

TEST(AssertionReport, IncludesOnlyThePartsThatArePresent) {
  const ReportCase cases[] = {
      {"all parts", "x > 0", "bad x", "a.cpp", 12, "Run",
       "Assertion failed!\n\nFile: a.cpp\nLine: 12\n\nFunction: Run\n\nExpression: x > 0\n\n"
       "Description: bad x"},
      {"expression and description", "ALE-EECF0606", "version", nullptr, 0, nullptr,
       "Assertion failed!\n\nExpression: ALE-EECF0606\n\nDescription: version"},
      {"line 0 is left out", "e", nullptr, "f.cpp", 0, "",
       "Assertion failed!\n\nFile: f.cpp\nExpression: e"},
      {"negative line", nullptr, "", nullptr, -3, nullptr, "Assertion failed!\n\nLine: -3\n\n"},
      {"description alone", "", "d", "", 0, nullptr, "Assertion failed!\n\n\n\nDescription: d"},
      {"nothing", nullptr, nullptr, nullptr, 0, nullptr, "Assertion failed!\n\n"},
  };
  for (const ReportCase& c : cases) {
    EXPECT_EQ(AssertionReport(c.expression, c.description, c.file, c.line, c.function), c.expected)
        << c.name;
  }
}

TEST(AssertionReportDeathTest, FatalAssertionLogsTheReportAtErrorAndAborts) {
  EXPECT_DEATH(FatalAssertion("ALE-6D828C10", "no state", nullptr, 0, nullptr),
               " ERROR\\| Assertion failed!\n\nExpression: ALE-6D828C10\n\nDescription: no state");
}

TEST(MemoryCounters, CountOneAllocationAndItsFree) {
  const MemoryCounters before = GetMemoryCounters();
  void* block = Allocate(100);
  ASSERT_NE(block, nullptr);
  const size_t usable = UsableSize(block);
  EXPECT_GE(usable, 100u);
  const MemoryCounters during = GetMemoryCounters();
  Free(block);
  const MemoryCounters after = GetMemoryCounters();

  EXPECT_EQ(during.allocations - before.allocations, 1u);
  EXPECT_EQ(during.bytesAllocated - before.bytesAllocated, usable);
  EXPECT_GE(during.peakLiveBytes, usable);
  EXPECT_EQ(after.allocations - before.allocations, 1u);
  EXPECT_EQ(after.frees - before.frees, 1u);
  EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, after.bytesFreed - before.bytesFreed);
}

TEST(MemoryCounters, ReallocateCountsTheOldBlockFreedAndTheNewOneAllocated) {
  void* block = Allocate(16);
  const MemoryCounters before = GetMemoryCounters();
  const size_t oldUsable = UsableSize(block);
  block = Reallocate(block, 4000);
  ASSERT_NE(block, nullptr);
  const MemoryCounters after = GetMemoryCounters();
  EXPECT_EQ(after.frees - before.frees, 1u);
  EXPECT_EQ(after.bytesFreed - before.bytesFreed, oldUsable);
  EXPECT_EQ(after.allocations - before.allocations, 1u);
  EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, UsableSize(block));
  Free(block);

  char* copy = DuplicateString("abc");
  ASSERT_STREQ(copy, "abc");
  EXPECT_EQ(GetMemoryCounters().allocations - after.allocations, 1u);
  Free(copy);
}

TEST(MemoryCounters, AlignedBlocksAreCountedLikeOthers) {
  for (size_t alignment : {size_t{8}, size_t{64}, size_t{4096}}) {
    const MemoryCounters before = GetMemoryCounters();
    void* block = AllocateAligned(100, alignment);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignment, 0u) << alignment;
    const size_t usable = UsableSize(block);
    Free(block);
    const MemoryCounters after = GetMemoryCounters();
    EXPECT_EQ(after.allocations - before.allocations, 1u) << alignment;
    EXPECT_EQ(after.frees - before.frees, 1u) << alignment;
    EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, usable) << alignment;
    EXPECT_EQ(after.bytesFreed - before.bytesFreed, usable) << alignment;
  }
}

// A module's operator delete may free a block that the C++ runtime allocated
// (and the counters never saw): more bytes freed than allocated must not wrap
// the live bytes around into an absurd peak.
TEST(MemoryCounters, FreesOfUncountedBlocksLeaveThePeakSane) {
  const MemoryCounters start = GetMemoryCounters();
  Free(std::malloc(start.bytesAllocated - start.bytesFreed + 65536));
  void* block = Allocate(16);
  Free(block);
  const MemoryCounters after = GetMemoryCounters();
  EXPECT_EQ(after.peakLiveBytes, start.peakLiveBytes);
  EXPECT_LE(after.liveAllocationsAtPeak, after.allocations);
}

}  // namespace
}  // namespace Zorv
