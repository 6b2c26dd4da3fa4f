// Clock: where the host's timer queue reads the time. The development host
// runs on the monotonic clock of the machine; tests run on a VirtualClock that
// moves only when told, so a wait of minutes takes no real time.
//
// Times are nanoseconds of an arbitrary origin; only differences mean
// anything. A clock never goes back.
#pragma once

#include <chrono>
#include <cstdint>

namespace Zorv::Host {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t NowNanoseconds() const = 0;
  // True for a clock that moves on its own, so that waiting for a due time
  // means sleeping; false for one that moves only when told.
  virtual bool MovesByItself() const { return true; }
};

// The machine's monotonic clock.
class SteadyClock final : public Clock {
 public:
  int64_t NowNanoseconds() const override;
};

// A clock that starts at zero and moves forward only through Advance/AdvanceTo.
class VirtualClock final : public Clock {
 public:
  int64_t NowNanoseconds() const override { return now_; }
  bool MovesByItself() const override { return false; }

  // A negative step is ignored: the clock never goes back.
  void Advance(std::chrono::nanoseconds step);
  // Moves to `when` when that is later than now; otherwise nothing changes.
  void AdvanceTo(int64_t when);

 private:
  int64_t now_ = 0;
};

}  // namespace Zorv::Host
