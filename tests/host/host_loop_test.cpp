#include "host/host_loop.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <csignal>
#include <ctime>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "host/fake_plugin.h"

namespace Zorv::Host {
namespace {

int64_t ThreadCpuNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

PluginHost::Options RealClock(Clock* clock) {
  PluginHost::Options options;
  options.clock = clock;
  // Idle yields never count towards the abort on a real clock.
  options.maxIdleYields = 3;
  return options;
}

class RealClockHostTest : public ::testing::Test {
 protected:
  void SetUp() override { plugin.Attach(host); }

  SteadyClock clock;
  PluginHost host{RealClock(&clock)};
  Testing::FakePlugin plugin;
};

TEST_F(RealClockHostTest, AWaitSleepsUntilItsTimerAndServesWorkHandedOverMeanwhile) {
  bool fired = false;
  std::function<void()> timer = [&] { fired = true; };
  std::promise<void> waiting;
  int served = 0;
  std::thread server([&] {
    waiting.get_future().wait();
    EXPECT_EQ(host.Work().Submit([&] { return ++served; }), 1);
  });
  host.OnYield([&] { waiting.set_value(); });

  const int64_t wallStart = clock.NowNanoseconds();
  const int64_t cpuStart = ThreadCpuNanoseconds();
  plugin.Schedule(0.2, &timer);
  plugin.WaitUntil([&] { return fired && served == 1; });
  const int64_t cpu = ThreadCpuNanoseconds() - cpuStart;
  const int64_t wall = clock.NowNanoseconds() - wallStart;
  server.join();

  EXPECT_GE(wall, 200'000'000);
  // Asleep, not spinning, while nothing was due.
  EXPECT_LT(cpu, wall / 4) << "cpu " << cpu << " ns over " << wall << " ns";
  EXPECT_TRUE(host.Faults().empty()) << host.Faults().front();
}

TEST_F(RealClockHostTest, AStopInsideAPluginWaitEndsTheLoopOnlyOnceTheWaitHasReturned) {
  HostLoop loop(host);
  std::vector<std::string> steps;
  bool released = false;
  // A handed-over request whose plug-in callback waits for an answer.
  host.Work().Post([&] {
    steps.push_back("callback waits");
    plugin.WaitUntil([&] { return released; });
    steps.push_back("callback returns");
  });
  std::thread other([&] {
    host.Work().Submit([&] {
      steps.push_back("stop requested");
      loop.RequestStop();
      // The plug-in's frames are below this one.
      EXPECT_FALSE(host.Shutdown());
      host.Unload();
    });
    host.Work().Submit([&] {
      steps.push_back("still served");
      released = true;
    });
  });
  loop.Run();
  steps.push_back("loop ended");
  other.join();

  EXPECT_EQ(steps, (std::vector<std::string>{"callback waits", "stop requested", "still served",
                                             "callback returns", "loop ended"}));
  EXPECT_EQ(plugin.Shutdowns(), 0);
  EXPECT_EQ(host.Faults(), (std::vector<std::string>{"Shutdown: refused inside a host function",
                                                     "Unload: refused inside a host function"}));
  EXPECT_TRUE(host.Shutdown());
  EXPECT_EQ(plugin.Shutdowns(), 1);
}

HostLoop* signalledLoop = nullptr;

void OnSignal(int) {
  signalledLoop->RequestStop();
}

TEST_F(RealClockHostTest, ASignalHandlerStopsALoopThatSleepsWithNothingDue) {
  HostLoop loop(host);
  signalledLoop = &loop;
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  const pthread_t hostThread = pthread_self();
  std::thread signaller([&] {
    // Once the loop runs: the signal then lands in its sleep or just before.
    host.Work().Submit([] {});
    pthread_kill(hostThread, SIGUSR1);
  });
  loop.Run();
  signaller.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_TRUE(loop.StopRequested());
}

TEST_F(RealClockHostTest, AStopRequestedBeforeRunEndsItAfterOnePassOfPendingWork) {
  HostLoop loop(host);
  int ran = 0;
  host.Work().Post([&] { ++ran; });
  loop.RequestStop();
  loop.Run();
  EXPECT_EQ(ran, 0);
}

}  // namespace
}  // namespace Zorv::Host
