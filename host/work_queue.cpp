#include "host/work_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <vector>

namespace Zorv::Host {

WorkQueue::WorkQueue() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

WorkQueue::~WorkQueue() {
  Stop();
  close(wakeFd_);
}

bool WorkQueue::Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return false;
    items_.push_back(std::move(work));
  }
  Wake();
  return true;
}

size_t WorkQueue::RunQueued() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return 0;
    batch.swap(items_);
  }
  for (std::function<void()>& item : batch) {
    try {
      item();
    } catch (const std::exception& e) {
      if (errorSink_) errorSink_(e.what());
    } catch (...) {
      if (errorSink_) errorSink_("unknown exception");
    }
    // Dropped at once: a Submit waiting on it learns its fate now.
    item = nullptr;
  }
  return batch.size();
}

bool WorkQueue::Empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return items_.empty();
}

void WorkQueue::Wait(std::optional<std::chrono::nanoseconds> timeout) {
  // Drained before the queue is looked at: a Post after the look writes
  // the descriptor again, so its wake-up is never lost.
  uint64_t count = 0;
  while (read(wakeFd_, &count, sizeof(count)) > 0) {
  }
  if (!Empty()) return;
  timespec limit{};
  if (timeout) {
    const int64_t ns = std::max<int64_t>(timeout->count(), 0);
    limit.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    limit.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  }
  pollfd descriptor{wakeFd_, POLLIN, 0};
  // EINTR (a signal) ends the wait like a wake-up: the caller looks again.
  ppoll(&descriptor, 1, timeout ? &limit : nullptr, nullptr);
}

void WorkQueue::Wake() noexcept {
  const uint64_t one = 1;
  // Fails only when the counter is full, which wakes the reader anyway.
  [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof(one));
}

void WorkQueue::Stop() {
  std::deque<std::function<void()>> dropped;
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
