// Seconds of the steady clock (from an arbitrary start, never set back): the
// one time base of everything that arrives on other threads (OSC, MIDI,
// sound) and the frame loop that takes it.
#pragma once

#include <chrono>

namespace tool {

inline double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace tool
