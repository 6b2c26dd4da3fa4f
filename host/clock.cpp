#include "host/clock.h"

#include "platform/clock.h"

namespace Zorv::Host {

int64_t SteadyClock::NowNanoseconds() const {
  return Platform::MonotonicNanoseconds();
}

void VirtualClock::Advance(std::chrono::nanoseconds step) {
  if (step.count() > 0) now_ += step.count();
}

void VirtualClock::AdvanceTo(int64_t when) {
  if (when > now_) now_ = when;
}

}  // namespace Zorv::Host
