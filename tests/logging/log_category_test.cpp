#include "logging/log_category.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace Zorv {
namespace {

// "T3" and the like; built with snprintf because GCC 12 at -O3 warns falsely
// (-Wrestrict) about concatenating a literal with a temporary string.
std::string Code(char letter, int number) {
  char code[16];
  std::snprintf(code, sizeof code, "%c%d", letter, number);
  return code;
}

std::string Names(uint64_t mask) {
  char out[kLogCategorySlots * 4 + 1];
  LogCategoryNames(out, sizeof out, mask);
  return out;
}

TEST(RegisterLogCategory, FindsPresetCodesAndGivesNewCodesTheNextBit) {
  EXPECT_EQ(RegisterLogCategory("DBG"), kLogDBG);
  EXPECT_EQ(RegisterLogCategory("TST"), kLogTST);

  const uint64_t first = RegisterLogCategory("QA1");
  ASSERT_TRUE(std::has_single_bit(first));
  EXPECT_GT(first, kLogTST);
  EXPECT_EQ(Names(first), "QA1");
  EXPECT_EQ(RegisterLogCategory("QA1"), first);
  EXPECT_EQ(RegisterLogCategory("QA1 and more"), first) << "only three characters count";
  EXPECT_EQ(RegisterLogCategory("QA2"), first << 1);
  EXPECT_EQ(RegisterLogCategory("QA"), first << 2) << "a shorter code is its own category";
  EXPECT_EQ(Names(first << 2), "QA");

  EXPECT_EQ(Names(uint64_t{1} << 63), "???") << "free slots read ???";
  EXPECT_EQ(RegisterLogCategory(""), 0u);
  EXPECT_EQ(RegisterLogCategory(nullptr), 0u);
}

TEST(RegisterLogCategory, ThreadsRegisteringDifferentCodesGetDifferentBits) {
  const int kThreads = 6;
  std::vector<uint64_t> masks(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&masks, i] {
      const std::string code = Code('T', i);
      masks[i] = RegisterLogCategory(code.c_str());
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::set<uint64_t> distinct(masks.begin(), masks.end());
  EXPECT_EQ(distinct.size(), size_t{kThreads});
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_TRUE(std::has_single_bit(masks[i]));
    EXPECT_EQ(Names(masks[i]), Code('T', i));
  }
}

TEST(RegisterLogCategoryDeathTest, AFullTableGivesNoCategoryAndKeepsItsCodes) {
  // In a child process: filling the table is for good.
  EXPECT_EXIT(
      {
        int taken = 0;
        for (int i = 0; i < 100; ++i) {
          const std::string code = Code('F', i);
          if (RegisterLogCategory(code.c_str()) != 0) ++taken;
        }
        const bool ok = taken > 0 && taken < 64 && RegisterLogCategory("F99") == 0 &&
                        RegisterLogCategory("DBG") == kLogDBG && Names(uint64_t{1} << 63) != "???";
        std::exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace Zorv
