// What the player tells the performer: every line to the terminal (problems
// to standard error), the last few kept for the panel, and the newest one
// while it is fresh, for the window's title. Every line passes through
// Printable, whatever it holds: names from files, ports or the network
// reach the terminal and the panel only escaped.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "player/Clock.h"

namespace tool {

class Console {
 public:
  struct Line {
    std::string text;
    bool problem = false;
    double at = 0.0;  // seconds of the clock
  };
  static constexpr size_t kKept = 6;
  static constexpr double kFreshSeconds = 4.0;

  Console(const Clock& clock, bool quiet) : clock(clock), quiet(quiet) {}

  void Say(const std::string& line);
  void Problem(const std::string& line);
  // Lines for the terminal alone (the key list while the audience has the
  // screen): not kept for the panel or the title.
  void ToTerminal(const std::string& text) const;

  // Every line from now on also goes to `follower` (a remote, a test).
  void Follow(std::function<void(const Line&)> follower) { this->follower = std::move(follower); }

  const std::deque<Line>& Recent() const { return recent; }
  // The newest line while it is fresh, or null.
  const Line* Fresh() const;

 private:
  void Keep(const std::string& text, bool problem);

  const Clock& clock;
  const bool quiet;
  std::deque<Line> recent;
  std::function<void(const Line&)> follower;
};

}  // namespace tool
