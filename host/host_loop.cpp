#include "host/host_loop.h"

namespace Zorv::Host {

size_t HostLoop::Run() {
  size_t ran = 0;
  // The flag is read only here, between top-level passes: work that runs
  // nested inside a plug-in callback never ends the loop under it.
  while (!StopRequested()) {
    ran += host_.RunPending();
    if (StopRequested()) break;
    host_.WaitForWork();
  }
  return ran;
}

void HostLoop::RequestStop() noexcept {
  stop_.store(true, std::memory_order_release);
  host_.Work().Wake();
}

}  // namespace Zorv::Host
