#include "host/transfer_in_flight.h"

#include <atomic>
#include <exception>
#include <string>
#include <thread>

namespace Zorv::Host {

HttpResponse SendInFlight(HttpTransport& transport, const HttpRequest& request, WorkQueue& queue,
                          const std::function<void()>& runPending,
                          const std::function<void()>& wait) {
  std::atomic<bool> done{false};
  HttpResponse response;
  std::thread worker([&] {
    try {
      response = transport.Send(request);
    } catch (const std::exception& e) {
      response = HttpResponse::Failure(1, std::string("host failure: ") + e.what());
    } catch (...) {
      response = HttpResponse::Failure(1, "host failure");
    }
    done.store(true, std::memory_order_release);
    // An item rather than a bare wake-up: the host thread drains wake-ups
    // just before it looks at the queue and sleeps.
    if (!queue.Post([] {})) queue.Wake();
  });
  try {
    while (!done.load(std::memory_order_acquire)) {
      runPending();
      if (done.load(std::memory_order_acquire) || queue.Stopped()) break;
      wait();
    }
  } catch (...) {
    worker.join();
    throw;
  }
  worker.join();
  return response;
}

}  // namespace Zorv::Host
