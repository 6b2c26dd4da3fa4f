#include "host/timer_queue.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Zorv::Host {
namespace {

int64_t DueTime(int64_t now, double delaySeconds) {
  constexpr int64_t kLatest = std::numeric_limits<int64_t>::max();
  if (!(delaySeconds > 0)) return now;  // also NaN
  const double nanoseconds = std::ceil(delaySeconds * 1e9);
  if (nanoseconds >= static_cast<double>(kLatest - now)) return kLatest;
  return now + static_cast<int64_t>(nanoseconds);
}

}  // namespace

void TimerQueue::Schedule(std::string name, HostTimerCallback callback, void* context,
                          double delaySeconds) {
  std::function<void()> action;
  if (callback) action = [callback, context] { callback(context); };
  Schedule(std::move(name), std::move(action), delaySeconds);
}

void TimerQueue::Schedule(std::string name, std::function<void()> action, double delaySeconds) {
  const int64_t due = DueTime(clock_.NowNanoseconds(), delaySeconds);
  history_.push_back(Scheduled{std::move(name), delaySeconds, due});
  pending_.push_back(Timer{due, nextSequence_++, std::move(action)});
}

size_t TimerQueue::RunDue() {
  const uint64_t end = nextSequence_;
  size_t ran = 0;
  for (;;) {
    const int64_t now = clock_.NowNanoseconds();
    auto earliest = pending_.end();
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
      if (it->due > now || it->sequence >= end) continue;
      if (earliest == pending_.end() || it->due < earliest->due ||
          (it->due == earliest->due && it->sequence < earliest->sequence)) {
        earliest = it;
      }
    }
    if (earliest == pending_.end()) return ran;
    const Timer timer = std::move(*earliest);
    pending_.erase(earliest);
    if (timer.action) timer.action();
    ++ran;
  }
}

bool TimerQueue::NextDue(int64_t& due) const {
  if (pending_.empty()) return false;
  due = std::min_element(pending_.begin(), pending_.end(), [](const Timer& a, const Timer& b) {
          return a.due < b.due;
        })->due;
  return true;
}

}  // namespace Zorv::Host
