// When the performer's keys went down, as the X server stamped them. GLFW
// hands key events to the frame loop only when it polls, a draw later on a
// slow machine, and a tap timed then is late by that draw: 120 taps a
// minute read 122. This reads the same window's keys on an X connection of
// its own, on a thread of its own, and keeps each press's and release's own
// time for the key callback to claim, in order, key by key.
//
// Without an X display (a Wayland session) it holds nothing, and keys are
// timed when the loop polls them.
#pragma once

#include <deque>
#include <mutex>
#include <thread>

namespace tool {

class KeyArrivals {
 public:
  // Presses and releases not claimed within this long are let go.
  static constexpr double kKeptSeconds = 2.0;

  KeyArrivals() = default;
  ~KeyArrivals();
  KeyArrivals(const KeyArrivals&) = delete;
  KeyArrivals& operator=(const KeyArrivals&) = delete;

  // Listens to the keys of `window` (an X window id) on the display named
  // `display`; false (and keys timed when polled) when it cannot.
  bool Start(const char* display, unsigned long window);
  // The time (of the steady clock) the oldest unclaimed press or release of
  // the key with this X keycode arrived, claimed; `fallback` when none did
  // in the last kKeptSeconds.
  double Claim(int keycode, bool pressed, double fallback);

 private:
  struct Arrival {
    int keycode;
    bool pressed;
    double at;
  };
  void Listen();
  void Keep(int keycode, bool pressed, unsigned long serverMilliseconds);

  void* display = nullptr;  // the X connection of its own (an X11 Display)
  std::thread listener;
  int wake[2] = {-1, -1};
  std::mutex mutex;
  std::deque<Arrival> arrivals;
  // The X server's milliseconds against the steady clock: the smallest
  // difference seen (an event is read after it was stamped, never before).
  double offset = 0.0;
  bool offsetKnown = false;
  unsigned long lastServerMilliseconds = 0;
  double wraps = 0.0;  // the server's 32-bit milliseconds wrap every 49 days
};

}  // namespace tool
