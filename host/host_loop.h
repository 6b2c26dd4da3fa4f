// HostLoop: the host thread's main loop over a PluginHost on a clock that
// moves by itself (SteadyClock). It runs the pending work (handed-over items,
// queued events, due timers of the plug-in and of the host), then sleeps until
// the next timer comes due or the next item is handed over; it never spins.
//
//   Zorv::Host::SteadyClock clock;
//   Zorv::Host::PluginHost host({.clock = &clock, .transport = &curl});
//   host.Load(path); host.Initialize();
//   Zorv::Host::HostLoop loop(host);
//   // a signal handler or another thread: loop.RequestStop();
//   loop.Run();  // returns once stopped, at the top level
//   host.Unload();
//
// Promises:
// - A stop is carried out only at the top level: one requested while a
//   plug-in callback runs (also from inside a wait of the plug-in, nested)
//   ends Run only after that callback has returned. The caller then shuts the
//   plug-in down on the host thread.
// - RequestStop may be called from any thread and from a signal handler (an
//   atomic flag and the work queue's futex wake); a stop requested before
//   Run makes Run return at once. Run may be called again after a stop only
//   on a new loop.
#pragma once

#include <atomic>

#include "host/plugin_host.h"

namespace Zorv::Host {

class HostLoop {
 public:
  // `host` must outlive the loop; Run is called on the host's thread.
  explicit HostLoop(PluginHost& host) : host_(host) {}

  // Runs pending work and sleeps for more until a stop is requested.
  // Answers how many pieces of work ran.
  size_t Run();
  // Async-signal-safe; idempotent.
  void RequestStop() noexcept;
  bool StopRequested() const noexcept { return stop_.load(std::memory_order_acquire); }

 private:
  PluginHost& host_;
  std::atomic<bool> stop_{false};
  static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler sets the stop flag");
};

}  // namespace Zorv::Host
