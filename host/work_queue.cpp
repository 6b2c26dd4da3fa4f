#include "host/work_queue.h"

#include <linux/futex.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>
#include <vector>

namespace Zorv::Host {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "a futex word is 32 bits");

void HandoffSignal::Set() noexcept {
  if (state_.exchange(kSet, std::memory_order_acq_rel) == kSleeping)
    syscall(SYS_futex, &state_, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

void HandoffSignal::Wait() noexcept {
  uint32_t seen = kUnset;
  if (!state_.compare_exchange_strong(seen, kSleeping, std::memory_order_acq_rel) && seen == kSet)
    return;
  // EINTR, EAGAIN (set meanwhile) and spurious wake-ups all end in a look at the word.
  while (state_.load(std::memory_order_acquire) == kSleeping)
    syscall(SYS_futex, &state_, FUTEX_WAIT_PRIVATE, kSleeping, nullptr, nullptr, 0);
}

WorkQueue::WorkQueue() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

WorkQueue::~WorkQueue() {
  Stop();
  close(wakeFd_);
}

bool WorkQueue::Post(std::function<void()> work) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return false;
    items_.push_back(Item{posted_++, std::move(work)});
    // One write ends the wait; the items posted behind it need none.
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
    // after this point writes the eventfd, so the wait below cannot miss it.
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
  pollfd descriptor{wakeFd_, POLLIN, 0};
  // EINTR (a signal) ends the wait like a wake-up: the caller looks again.
  const int ready = ppoll(&descriptor, 1, timeout ? &limit : nullptr, nullptr);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hostWaits_ = false;
  }
  if (ready <= 0) return;
  // Drained only once it has woken this wait, so that no wake-up is lost; a
  // wake-up left by work already run ends one later wait early, harmlessly.
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = read(wakeFd_, &count, sizeof(count));
}

void WorkQueue::Wake() noexcept {
  const uint64_t one = 1;
  // Fails only when the counter is full, which wakes the reader anyway.
  [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof(one));
}

void WorkQueue::Stop() {
  std::deque<Item> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    dropped.swap(items_);
  }
  // Destroyed outside the lock: an item's destructor may post.
  dropped.clear();
  Wake();
}

bool WorkQueue::Stopped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopped_;
}

}  // namespace Zorv::Host
