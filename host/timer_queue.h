// TimerQueue: the callbacks that a plug-in hands to the host with a name and a
// delay. Each callback runs once, on the host thread, when the clock has
// reached its due time; callbacks that come due together run in due-time
// order, and those with the same due time in the order they were scheduled.
//
// The queue keeps a record of every schedule (name, delay, due time) for
// tests. A delay that is negative or not a number counts as zero; one too
// large for the clock is clamped to the furthest due time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/ring_buffer.h"
#include "zorv/plugin_abi.h"

namespace Zorv::Host {

class TimerQueue {
 public:
  struct Scheduled {
    std::string name;
    double delaySeconds = 0;  // as the plug-in gave it
    int64_t due = 0;          // clock nanoseconds
  };

  // `clock` must outlive the queue.
  explicit TimerQueue(const Clock& clock) : clock_(clock) {}

  void Schedule(std::string name, HostTimerCallback callback, void* context, double delaySeconds);
  // The same for work of the host itself.
  void Schedule(std::string name, std::function<void()> action, double delaySeconds);

  // Runs the callbacks due at the clock's current time that were scheduled
  // before this call; those scheduled meanwhile wait for the next call, so a
  // callback that schedules itself again with no delay cannot hold the host.
  // Answers how many ran. A callback may schedule, and may run RunDue again
  // (nested yields): a timer is taken off the queue before it runs, so it
  // never runs twice.
  size_t RunDue();

  // Due time of the earliest pending timer; false when none is pending.
  bool NextDue(int64_t& due) const;
  size_t Pending() const { return pending_.size(); }
  // Drops every pending timer without running it (their contexts die with
  // the plug-in).
  void Clear() { pending_.clear(); }

  // The newest schedules (kDefaultKeep unless SetKeep says otherwise).
  const RingBuffer<Scheduled>& History() const { return history_; }
  void SetKeep(size_t schedules) { history_.SetCapacity(schedules); }

 private:
  struct Timer {
    int64_t due;
    uint64_t sequence;
    std::function<void()> action;
  };

  const Clock& clock_;
  std::vector<Timer> pending_;  // unordered; small in every host use
  RingBuffer<Scheduled> history_;
  uint64_t nextSequence_ = 0;
};

}  // namespace Zorv::Host
