// The progress line on standard error while frames render: frames done of the
// total, frames per second and the time left. Shown only when standard error
// is a terminal and the user did not ask for quiet.
#pragma once

#include <chrono>
#include <string>

namespace tool {

class Progress {
 public:
  Progress(std::string label, long total, bool enabled);
  // Redraws at most a few times a second.
  void Update(long done);
  // Clears the line.
  void Finish();
  double ElapsedSeconds() const;

 private:
  std::string label;
  long total;
  bool enabled;
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point lastDrawn;
  bool drawn = false;
};

}  // namespace tool
