#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <thread>

#include "platform/clock.h"
#include "platform/process.h"

namespace Zorv::Platform {
namespace {

TEST(Clock, LocalTimeFieldsAreInRange) {
  const LocalTime t = LocalTimeNow();
  EXPECT_GE(t.year, 2020);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12);
  EXPECT_TRUE(t.day >= 1 && t.day <= 31);
  EXPECT_TRUE(t.hour >= 0 && t.hour <= 23);
  EXPECT_TRUE(t.minute >= 0 && t.minute <= 59);
  EXPECT_TRUE(t.second >= 0 && t.second <= 60);
  EXPECT_TRUE(t.millisecond >= 0 && t.millisecond <= 999);
}

TEST(Clock, SystemTimeCountsHundredNanosecondTicksSinceTheEpoch) {
  const int64_t ticks = SystemTime100ns();
  const int64_t seconds = static_cast<int64_t>(time(nullptr));
  EXPECT_NEAR(static_cast<double>(ticks / 10000000), static_cast<double>(seconds), 2.0);
}

TEST(Clock, MonotonicNeverGoesBack) {
  const int64_t a = MonotonicNanoseconds();
  const int64_t b = MonotonicNanoseconds();
  EXPECT_LE(a, b);
}

TEST(Process, ThreadIdsDifferBetweenThreads) {
  const uint64_t mine = CurrentThreadId();
  uint64_t other = 0;
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(mine, other);
  EXPECT_EQ(mine, static_cast<uint64_t>(getpid()));  // the test's main thread
}

TEST(Process, ExecutablePathNamesThisTestBinary) {
  const std::string path = ExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_NE(path.find("platform_tests"), std::string::npos);
}

}  // namespace
}  // namespace Zorv::Platform
