// Await: waits for a future by letting the host run its pending work.
// (Definition of AppModule::Await; included by app_module.h.)
//
//   std::future<MaybeType<Failure, Answer>> pending = StartRequest(...);
//   MaybeType<Failure, Answer> answer = Await(std::move(pending));
//
// Promises: a future that is ready at once costs no host notification; one
// that is not is announced once with BeginWait("Wait: future<T>"), polled
// with YieldToHost until it is ready, and closed with one EndWait. A future
// error (no state, broken promise) is an impossible state for the framework:
// it is logged and the process stops. Other exceptions stored in the future
// reach the caller.
#pragma once

#include <chrono>
#include <future>
#include <utility>

#include "binding/static_type.h"
#include "framework/module/app_module.h"
#include "logging/format_string.h"

namespace Zorv::Client {
namespace internal {

// Logs the error at ERROR and raises the fatal assertion report; never returns.
[[noreturn]] void StopOnFutureError(const std::future_error& error);

}  // namespace internal

template <typename T>
T AppModule::Await(std::future<T> future) {
  try {
    // Waiting on a future without state is undefined; name the error instead.
    if (!future.valid()) throw std::future_error(std::future_errc::no_state);
    bool waiting = false;
    // A deferred future runs in get(): it counts as ready.
    while (future.wait_for(std::chrono::seconds(0)) == std::future_status::timeout) {
      if (!waiting) {
        waiting = true;
        BeginWait(FormatString("Wait: future<%1>", StaticTypeName<T>()));
      }
      YieldToHost();
    }
    if (waiting) EndWait();
    return future.get();
  } catch (const std::future_error& error) {
    internal::StopOnFutureError(error);
  }
}

}  // namespace Zorv::Client
