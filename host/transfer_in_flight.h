// SendInFlight: one HTTP transfer of a transport that may block, run on a
// worker thread while the host thread goes on serving its pending work, the
// way a host that never blocks its thread on the network would.
//
// Promises:
// - `transport.Send` runs on a thread of its own; an exception from it
//   becomes a failure with result code 1 and the exception's text.
// - Until the transfer is done the calling thread alternates `runPending`
//   and `wait`; the end of the transfer is posted to `queue`, so a `wait`
//   that sleeps on the queue always wakes for it. After the queue is stopped
//   the calling thread just waits for the worker.
// - SendInFlight returns only after the worker has ended.
#pragma once

#include <functional>

#include "host/http_transport.h"
#include "host/work_queue.h"

namespace Zorv::Host {

HttpResponse SendInFlight(HttpTransport& transport, const HttpRequest& request, WorkQueue& queue,
                          const std::function<void()>& runPending,
                          const std::function<void()>& wait);

}  // namespace Zorv::Host
