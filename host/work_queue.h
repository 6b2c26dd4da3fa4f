// WorkQueue: work handed to the host thread from other threads (an HTTP
// server thread that serves a request, a transfer that finished), with the
// wake-up the host thread sleeps on.
//
//   // A server thread:
//   EndpointAnswer answer = queue.Submit([&] { return host.CallModule(call); });
//   // The host thread:
//   queue.RunQueued();
//   queue.WaitFor(std::chrono::milliseconds(20));  // or until work arrives
//
// Promises:
// - Post and Submit may be called from any thread; RunQueued, Wait and
//   WaitFor only from the one host thread.
// - Items run in the order they were posted, each once, on the host thread.
// - Wake is async-signal-safe (an atomic exchange and a futex wake), so a
//   signal handler may end a wait; a wake that comes before the wait is not
//   lost.
// - A handover costs few system calls: the host thread sleeps on a futex
//   (one call, with nothing to drain once woken), Post wakes it only while it
//   waits (a busy host thread finds the item on its next run), and Submit's
//   caller sleeps on a futex only if its item has not run yet.
// - After Stop no item is taken or run: Post answers false and a Submit
//   waiting on an item that will not run throws std::future_error. The
//   destructor stops the queue; the queue must outlive every call to it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

namespace Zorv::Host {

// A one-shot signal from one thread to one waiting thread on a futex: no
// system call when it is set before the wait, one on each side otherwise.
class HandoffSignal {
 public:
  // Wakes the waiter if it sleeps. Once only.
  void Set() noexcept;
  // Returns once Set has been called. One waiter only.
  void Wait() noexcept;
  bool IsSet() const noexcept { return state_.load(std::memory_order_acquire) == kSet; }

 private:
  static constexpr uint32_t kUnset = 0, kSet = 1, kSleeping = 2;
  std::atomic<uint32_t> state_{kUnset};
};

class WorkQueue {
 public:
  // Gets the text of an exception that a posted item let out.
  using ErrorSink = std::function<void(const std::string& what)>;

  WorkQueue() = default;
  ~WorkQueue();
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  // Queues `work` for the host thread and wakes it; false (and `work` is
  // dropped) after Stop.
  bool Post(std::function<void()> work);

  // Posts `work` and blocks until the host thread has run it; answers its
  // result or rethrows its exception. Throws std::future_error when the queue
  // is stopped before the item runs.
  // REQUIRES: not the host thread (it would wait for itself).
  template <typename Work>
  std::invoke_result_t<Work> Submit(Work work);

  // Runs the items posted before this call, in order; those posted meanwhile
  // wait for the next call. Items are taken one at a time, so a nested call
  // (from inside an item) runs the ones still queued. An exception from an
  // item goes to the error sink and the other items still run. Answers how
  // many ran (here, not nested).
  size_t RunQueued();
  bool Empty() const;

  // Sleeps until an item is queued, Wake is called, or `timeout` has passed
  // (none: no time limit). Returns at once when an item is queued already, or
  // when a wake-up came since the last wait (it may be one for an item run
  // already: callers look at what they wait for and wait again).
  void Wait(std::optional<std::chrono::nanoseconds> timeout = std::nullopt);
  void WaitFor(std::chrono::nanoseconds timeout) { Wait(timeout); }

  // Ends the current or next Wait. Async-signal-safe.
  void Wake() noexcept;

  // Refuses later items and drops the queued ones (a waiting Submit throws).
  void Stop();
  bool Stopped() const;

  void SetErrorSink(ErrorSink sink) { errorSink_ = std::move(sink); }

 private:
  // What a Submit's caller waits for, on its own stack: the news that the
  // item was dropped unrun, or else the item's result or exception. Only the
  // item's side writes the fields, before it signals; the caller reads them
  // after its wait, and the item's side touches nothing once it has signalled.
  struct HandoffBase {
    HandoffSignal signal;
    bool dropped = false;
    std::exception_ptr error;
    void Drop() {
      dropped = true;
      signal.Set();
    }
  };
  template <typename Result>
  struct Handoff : HandoffBase {
    using Value = std::conditional_t<std::is_void_v<Result>, bool, Result>;
    std::optional<Value> value;
  };

  struct Item {
    uint64_t sequence;
    std::function<void()> work;
    // A Submit's item: told when the item is dropped unrun.
    HandoffBase* handoff = nullptr;
  };

  bool Queue(std::function<void()> work, HandoffBase* handoff);

  mutable std::mutex mutex_;
  std::deque<Item> items_;
  uint64_t posted_ = 0;
  bool stopped_ = false;
  // The host thread sleeps in Wait: the next Post must wake it.
  bool hostWaits_ = false;
  // The host thread's futex word: kSleeping while it sleeps in Wait (a Wake
  // then makes the system call), kWoken from a Wake until the wait it ends.
  static constexpr uint32_t kAwake = 0, kWoken = 1, kSleeping = 2;
  std::atomic<uint32_t> wake_{kAwake};
  ErrorSink errorSink_;
};

template <typename Work>
std::invoke_result_t<Work> WorkQueue::Submit(Work work) {
  using Result = std::invoke_result_t<Work>;
  Handoff<Result> handoff;
  // Two pointers: the item is stored inside the std::function, so a handover
  // allocates nothing. Both point into this frame, which outlives the item's
  // run because this thread waits for its signal.
  const bool queued = Queue(
      [state = &handoff, run = &work] {
        try {
          if constexpr (std::is_void_v<Result>) {
            (*run)();
            state->value.emplace(true);
          } else {
            state->value.emplace((*run)());
          }
        } catch (...) {
          state->error = std::current_exception();
        }
        state->signal.Set();
      },
      &handoff);
  if (!queued) throw std::future_error(std::future_errc::broken_promise);
  handoff.signal.Wait();
  if (handoff.dropped) throw std::future_error(std::future_errc::broken_promise);
  if (handoff.error) std::rethrow_exception(handoff.error);
  if constexpr (!std::is_void_v<Result>) return std::move(*handoff.value);
}

}  // namespace Zorv::Host
