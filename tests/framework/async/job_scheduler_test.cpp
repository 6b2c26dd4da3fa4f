#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support/fake_host_module.h"

namespace Zorv::Client {
namespace {

using Testing::FakeHostModule;
using namespace std::chrono_literals;

TEST(ScheduleCallbackTest, HandsEachCallbackToTheHostWithANewIdAndItsDelay) {
  FakeHostModule module;
  const MonotonicTime now = MonotonicClock::now();
  EXPECT_EQ(module.ScheduleCallback(
                "replays metadata fetch 7", [] {}, now - 5s),
            1u);
  EXPECT_EQ(module.ScheduleCallback(
                "replays download trec job ", [] {}, now + 30s),
            2u);

  ASSERT_EQ(module.timers.size(), 2u);
  EXPECT_EQ(module.timers[0].name, "replays metadata fetch 7");
  EXPECT_EQ(module.timers[0].delaySeconds, 0.0);
  EXPECT_EQ(module.timers[0].zero, 0u);
  EXPECT_EQ(module.timers[1].name, "replays download trec job ");
  // Measured against a clock that has moved on a little since `now`.
  EXPECT_GT(module.timers[1].delaySeconds, 25.0);
  EXPECT_LE(module.timers[1].delaySeconds, 30.0);
  EXPECT_EQ(module.pendingTimers(), 2u);
}

TEST(ScheduleCallbackTest, ATimerRunsItsCallbackThenForgetsIt) {
  FakeHostModule module;
  std::vector<std::string> ran;
  module.ScheduleCallback(
      "first", [&] { ran.push_back("first"); }, MonotonicClock::now());
  // A callback may schedule the next job while it runs.
  module.ScheduleCallback(
      "second",
      [&] {
        ran.push_back("second");
        module.ScheduleCallback(
            "third", [&] { ran.push_back("third"); }, MonotonicClock::now());
      },
      MonotonicClock::now());

  module.RunTimer(1);
  EXPECT_EQ(ran, (std::vector<std::string>{"second"}));
  EXPECT_EQ(module.pendingTimers(), 2u);
  module.RunTimer(0);
  module.RunTimer(2);
  EXPECT_EQ(ran, (std::vector<std::string>{"second", "first", "third"}));
  EXPECT_EQ(module.pendingTimers(), 0u);
}

TEST(ScheduleCallbackTest, AFailingCallbackDoesNotThrowIntoTheHost) {
  FakeHostModule module;
  // An empty callback throws the standard error; anything else may throw anything.
  module.ScheduleCallback("empty", std::function<void()>(), MonotonicClock::now());
  module.ScheduleCallback(
      "throws a number", [] { throw 42; }, MonotonicClock::now());
  for (size_t index : {0u, 1u}) {
    SCOPED_TRACE(module.timers.at(index).name);
    EXPECT_NO_THROW(module.RunTimer(index));
  }
  EXPECT_EQ(module.pendingTimers(), 0u);
}

}  // namespace
}  // namespace Zorv::Client
