#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "host/plugin_host.h"

// PluginHost's pending work and time: the clock, the timers, the work handed
// over from other threads, and how a yield of the plug-in runs them.

namespace Zorv::Host {

void PluginHost::Advance(std::chrono::nanoseconds duration) {
  if (!ownClock_) {
    Fault("Advance: the host runs on a clock it does not own");
    return;
  }
  const int64_t target = ownClock_->NowNanoseconds() + std::max<int64_t>(duration.count(), 0);
  RunPending();
  int64_t due = 0;
  while (NextDue(due) && due <= target) {
    ownClock_->AdvanceTo(due);
    RunPending();
  }
  ownClock_->AdvanceTo(target);
  RunPending();
}

bool PluginHost::NextDue(int64_t& due) const {
  int64_t plugInDue = 0;
  int64_t hostDue = 0;
  const bool plugIn = timers_.NextDue(plugInDue);
  const bool host = hostTimers_.NextDue(hostDue);
  if (!plugIn && !host) return false;
  due = !host ? plugInDue : !plugIn ? hostDue : std::min(plugInDue, hostDue);
  return true;
}

size_t PluginHost::RunPending() {
  size_t ran = 0;
  for (size_t pass = 0; pass < kMaxPendingPasses; ++pass) {
    const size_t step =
        work_.RunQueued() + bus_.RunQueued() + timers_.RunDue() + hostTimers_.RunDue();
    if (step == 0) return ran;
    ran += step;
  }
  Fault("RunPending: pending work does not settle");
  return ran;
}

void PluginHost::WaitForWork() {
  int64_t due = 0;
  if (clock_->MovesByItself() && NextDue(due)) {
    work_.WaitFor(std::chrono::nanoseconds(due - clock_->NowNanoseconds()));
  } else {
    work_.Wait();
  }
}

void PluginHost::OnYield(std::function<void()> action, size_t yields) {
  yieldActions_.push_back(YieldAction{yields == 0 ? 1 : yields, std::move(action)});
}

void PluginHost::YieldToHost() {
  if (!Running("YieldToHost")) return;
  ++yields_;
  std::vector<std::function<void()>> due;
  for (auto it = yieldActions_.begin(); it != yieldActions_.end();) {
    if (--it->remaining == 0) {
      due.push_back(std::move(it->action));
      it = yieldActions_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& action : due) action();
  const size_t ran = RunPending();
  // A wait with nothing to do would spin on a clock that never moves: time
  // passes until the next timer, as it would for a real host.
  int64_t next = 0;
  const bool idle = due.empty() && ran == 0 && yieldActions_.empty();
  if (options_.idleYieldsAdvanceTime && ownClock_ && idle && NextDue(next)) {
    ownClock_->AdvanceTo(next);
    RunPending();
    idleYields_ = 0;
    return;
  }
  if (idle && clock_->MovesByItself()) {
    // On a real clock an idle wait sleeps until something can end it.
    WaitForWork();
    RunPending();
    idleYields_ = 0;
    return;
  }
  idleYields_ = idle ? idleYields_ + 1 : 0;
  if (options_.maxIdleYields != 0 && idleYields_ >= options_.maxIdleYields) {
    // Nothing the host holds can end this wait: stop loudly instead of
    // spinning until a test runner's timeout.
    std::fprintf(stderr, "PluginHost: the plug-in yielded %zu times with no work left to run\n",
                 idleYields_);
    std::abort();
  }
}

}  // namespace Zorv::Host
