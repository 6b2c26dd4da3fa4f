#include "host/work_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace Zorv::Host {
namespace {

TEST(WorkQueueTest, ItemsFromOtherThreadsRunOnceInPostOrderOnTheHostThread) {
  WorkQueue queue;
  std::vector<int> ran;
  const std::thread::id hostThread = std::this_thread::get_id();
  bool allOnHost = true;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) {
      ASSERT_TRUE(queue.Post([&, i] {
        ran.push_back(i);
        allOnHost = allOnHost && std::this_thread::get_id() == hostThread;
      }));
    }
  });
  poster.join();
  EXPECT_EQ(queue.RunQueued(), 100u);
  EXPECT_EQ(queue.RunQueued(), 0u);
  ASSERT_EQ(ran.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(ran[i], i);
  EXPECT_TRUE(allOnHost);
}

TEST(WorkQueueTest, ANestedRunReachesItemsQueuedBehindTheRunningOne) {
  WorkQueue queue;
  std::vector<std::string> ran;
  // The first item waits, running the queue nested, as a plug-in job does
  // while it awaits an answer: the items behind it are served meanwhile.
  queue.Post([&] {
    ran.push_back("waits");
    queue.Post([&] { ran.push_back("posted meanwhile"); });
    EXPECT_EQ(queue.RunQueued(), 2u);
    ran.push_back("wait ends");
  });
  queue.Post([&] { ran.push_back("queued behind"); });
  EXPECT_EQ(queue.RunQueued(), 1u);
  EXPECT_EQ(ran,
            (std::vector<std::string>{"waits", "queued behind", "posted meanwhile", "wait ends"}));

  // Work posted by a running item waits for the next run.
  int later = 0;
  queue.Post([&] { queue.Post([&] { ++later; }); });
  EXPECT_EQ(queue.RunQueued(), 1u);
  EXPECT_EQ(later, 0);
  EXPECT_EQ(queue.RunQueued(), 1u);
  EXPECT_EQ(later, 1);
}

TEST(WorkQueueTest, SubmitAnswersTheResultOrTheExceptionOfTheItem) {
  WorkQueue queue;
  std::string errors;
  queue.SetErrorSink([&](const std::string& what) { errors += what; });
  auto value = std::async(std::launch::async, [&] { return queue.Submit([] { return 42; }); });
  auto thrown = std::async(std::launch::async, [&] {
    queue.Submit([]() -> int { throw std::runtime_error("refused"); });
  });
  size_t ran = 0;
  // The host thread's loop: sleep until work comes, run it.
  while (ran < 2) {
    queue.Wait();
    ran += queue.RunQueued();
  }
  EXPECT_EQ(value.get(), 42);
  std::string thrownText;
  try {
    thrown.get();
  } catch (const std::runtime_error& e) {
    thrownText = e.what();
  }
  EXPECT_EQ(thrownText, "refused");
  // Submit's exception went to its caller, not to the sink.
  EXPECT_EQ(errors, "");

  queue.Post([] { throw std::runtime_error("lost"); });
  int after = 0;
  queue.Post([&] { ++after; });
  EXPECT_EQ(queue.RunQueued(), 2u);
  EXPECT_EQ(errors, "lost");
  EXPECT_EQ(after, 1);
}

TEST(WorkQueueTest, AStoppedQueueRefusesWorkAndReleasesItsWaitingSubmitters) {
  WorkQueue queue;
  auto waiting = std::async(std::launch::async, [&] { return queue.Submit([] { return 1; }); });
  // The item is queued before the stop drops it.
  queue.Wait();
  queue.Stop();
  EXPECT_THROW(waiting.get(), std::future_error);
  EXPECT_FALSE(queue.Post([] {}));
  EXPECT_THROW(queue.Submit([] { return 1; }), std::future_error);
  EXPECT_EQ(queue.RunQueued(), 0u);
}

TEST(WorkQueueTest, WaitEndsForWorkForAWakeAndForItsTimeout) {
  WorkQueue queue;
  // A wake-up that comes before the wait is not lost.
  queue.Wake();
  queue.Wait();
  queue.Post([] {});
  queue.Wait();  // returns at once: work is queued
  EXPECT_EQ(queue.RunQueued(), 1u);

  std::thread waker([&] { queue.Wake(); });
  queue.Wait();
  waker.join();

  queue.WaitFor(std::chrono::milliseconds(1));
  EXPECT_TRUE(queue.Empty());
}

TEST(WorkQueueTest, NoHandoverIsLostBetweenBusyAndSleepingHostThread) {
  // Posts land while the host thread runs items, decides to sleep, or sleeps:
  // the wake-up is written only in the last two cases, and never missed. A
  // lost one shows as a wait that ends only by its (long) timeout.
  WorkQueue queue;
  constexpr int kPosters = 4, kEach = 2000;
  std::vector<std::thread> posters;
  for (int t = 0; t < kPosters; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i)
        EXPECT_EQ(queue.Submit([=] { return t * kEach + i; }), t * kEach + i);
    });
  int ran = 0;
  bool timedOut = false;
  while (ran < kPosters * kEach && !timedOut) {
    const auto start = std::chrono::steady_clock::now();
    queue.WaitFor(std::chrono::seconds(20));
    const bool waited = std::chrono::steady_clock::now() - start >= std::chrono::seconds(20);
    const size_t step = queue.RunQueued();
    timedOut = waited && step > 0;
    ran += static_cast<int>(step);
  }
  EXPECT_FALSE(timedOut);
  queue.Stop();  // releases the posters if a wake-up was lost
  for (std::thread& poster : posters) poster.join();
  EXPECT_EQ(ran, kPosters * kEach);
}

TEST(HandoffSignalTest, TheWaiterReturnsWhetherTheSignalCameBeforeOrDuringItsWait) {
  HandoffSignal early;
  early.Set();
  EXPECT_TRUE(early.IsSet());
  early.Wait();  // at once

  for (int round = 0; round < 200; ++round) {
    HandoffSignal signal;
    std::thread setter([&] { signal.Set(); });
    signal.Wait();
    EXPECT_TRUE(signal.IsSet());
    setter.join();
  }
}

}  // namespace
}  // namespace Zorv::Host
