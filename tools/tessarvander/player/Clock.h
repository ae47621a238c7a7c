// The player's time: the wall clock on stage, a clock the test turns in the
// tests. Seconds, from an origin of the clock's own.
#pragma once

#include <chrono>
#include <thread>

#include "sys/SteadyClock.h"

namespace tool {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual double Now() const = 0;
  // Returns at `when` or later.
  virtual void SleepUntil(double when) = 0;
};

// The steady clock, as the OSC, MIDI and sound threads stamp what they hear.
class WallClock : public Clock {
 public:
  double Now() const override { return SteadySeconds(); }
  void SleepUntil(double when) override {
    const double wait = when - Now();
    if (wait > 0.0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
  }
};

}  // namespace tool
