#include "host/work_queue.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace Zorv::Host {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "a futex word is 32 bits");

namespace {

// Sleeps while `word` holds `expected`, at most `timeout` (none: no limit).
// EINTR, ETIMEDOUT and EAGAIN (the word changed first) all just return: the
// callers look at the word again.
void FutexWait(std::atomic<uint32_t>& word, uint32_t expected, const timespec* timeout) noexcept {
  syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, expected, timeout, nullptr, 0);
}

// Async-signal-safe, like every system call.
void FutexWakeOne(std::atomic<uint32_t>& word) noexcept {
  syscall(SYS_futex, &word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

void HandoffSignal::Set() noexcept {
  if (state_.exchange(kSet, std::memory_order_acq_rel) == kSleeping) FutexWakeOne(state_);
}

void HandoffSignal::Wait() noexcept {
  uint32_t seen = kUnset;
  if (!state_.compare_exchange_strong(seen, kSleeping, std::memory_order_acq_rel) && seen == kSet)
    return;
  // EINTR, EAGAIN (set meanwhile) and spurious wake-ups all end in a look at the word.
  while (state_.load(std::memory_order_acquire) == kSleeping) FutexWait(state_, kSleeping, nullptr);
}

WorkQueue::~WorkQueue() {
  Stop();
}

bool WorkQueue::Post(std::function<void()> work) {
  return Queue(std::move(work), nullptr);
}

bool WorkQueue::Queue(std::function<void()> work, HandoffBase* handoff) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return false;
    items_.push_back(Item{posted_++, std::move(work), handoff});
    // One wake ends the wait; the items posted behind it need none.
    wake = std::exchange(hostWaits_, false);
  }
  if (wake) Wake();
  return true;
}

size_t WorkQueue::RunQueued() {
  // One item at a time off the shared queue, not a batch taken aside: an item
  // that waits (a plug-in job awaiting an answer) runs the queue nested, and
  // the items posted before it must be reachable from there.
  uint64_t end = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    end = posted_;
  }
  size_t ran = 0;
  for (;;) {
    std::function<void()> item;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopped_ || items_.empty() || items_.front().sequence >= end) return ran;
      item = std::move(items_.front().work);
      items_.pop_front();
    }
    ++ran;
    try {
      item();
    } catch (const std::exception& e) {
      if (errorSink_) errorSink_(e.what());
    } catch (...) {
      if (errorSink_) errorSink_("unknown exception");
    }
  }
}

bool WorkQueue::Empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return items_.empty();
}

void WorkQueue::Wait(std::optional<std::chrono::nanoseconds> timeout) {
  {
    // Checked and announced under the lock that Post takes: an item posted
    // after this point wakes the host, so the wait below cannot miss it.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!items_.empty()) return;
    hostWaits_ = true;
  }
  timespec limit{};
  if (timeout) {
    const int64_t ns = std::max<int64_t>(timeout->count(), 0);
    limit.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    limit.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  }
  // A wake-up that came first leaves kWoken, and the wait ends at once. A
  // signal (EINTR) ends the wait like a wake-up: the caller looks again.
  uint32_t seen = kAwake;
  if (wake_.compare_exchange_strong(seen, kSleeping, std::memory_order_acq_rel))
    FutexWait(wake_, kSleeping, timeout ? &limit : nullptr);
  // Taken only once it has ended this wait, so that no wake-up is lost; one
  // left by work already run ends one later wait early, harmlessly.
  wake_.store(kAwake, std::memory_order_release);
  std::lock_guard<std::mutex> lock(mutex_);
  hostWaits_ = false;
}

void WorkQueue::Wake() noexcept {
  if (wake_.exchange(kWoken, std::memory_order_acq_rel) == kSleeping) FutexWakeOne(wake_);
}

void WorkQueue::Stop() {
  std::deque<Item> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    dropped.swap(items_);
  }
  // Destroyed and told outside the lock: an item's destructor may post.
  for (Item& item : dropped) {
    item.work = nullptr;
    if (item.handoff) item.handoff->Drop();
  }
  dropped.clear();
  Wake();
}

bool WorkQueue::Stopped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopped_;
}

}  // namespace Zorv::Host
