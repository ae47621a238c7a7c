#include "player/ShowHealth.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tool {

double ResidentMebibytes() {
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm) return 0.0;
  long size = 0, resident = 0;
  const bool read = std::fscanf(statm, "%ld %ld", &size, &resident) == 2;
  std::fclose(statm);
  return read ? static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : 0.0;
}

void ShowHealth::Update(double now, long frames, double drawnPerSecond, double lastDraw, double longestGap) {
  const long at = static_cast<long>(std::floor(now));
  const auto slot = [](long s) { return static_cast<size_t>(s % static_cast<long>(kSeconds)); };
  if (at != second) {
    // Seconds gone by since the last pass hold nothing.
    for (long s = second + 1; second >= 0 && s <= at && s <= second + static_cast<long>(kSeconds); ++s)
      longestDrawIn[slot(s)] = longestGapIn[slot(s)] = 0.0;
    if (second < 0) longestDrawIn.fill(0.0), longestGapIn.fill(0.0);
    second = at;
    values[static_cast<size_t>(Health::Memory)] = static_cast<float>(ResidentMebibytes());
  }
  longestDrawIn[slot(at)] = std::max(longestDrawIn[slot(at)], lastDraw);
  longestGapIn[slot(at)] = std::max(longestGapIn[slot(at)], longestGap);
  const auto largest = [](const std::array<double, kSeconds>& in) {
    return static_cast<float>(*std::max_element(in.begin(), in.end()));
  };
  values[static_cast<size_t>(Health::Frame)] = static_cast<float>(frames);
  values[static_cast<size_t>(Health::DrawnPerSecond)] = static_cast<float>(drawnPerSecond);
  values[static_cast<size_t>(Health::LongestDraw)] = largest(longestDrawIn);
  values[static_cast<size_t>(Health::LongestGap)] = largest(longestGapIn);
}

}  // namespace tool
