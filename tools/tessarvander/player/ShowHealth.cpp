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

void ShowHealth::Update(double now, long frames, double drawnPerSecond, double lastDraw) {
  const long at = static_cast<long>(std::floor(now));
  if (at != second) {
    // Seconds gone by since the last pass hold no draw.
    for (long s = second + 1; second >= 0 && s <= at && s <= second + static_cast<long>(kSeconds); ++s)
      longestIn[static_cast<size_t>(s % static_cast<long>(kSeconds))] = 0.0;
    if (second < 0) longestIn.fill(0.0);
    second = at;
    values[static_cast<size_t>(Health::Memory)] = static_cast<float>(ResidentMebibytes());
  }
  double& thisSecond = longestIn[static_cast<size_t>(at % static_cast<long>(kSeconds))];
  thisSecond = std::max(thisSecond, lastDraw);
  values[static_cast<size_t>(Health::Frame)] = static_cast<float>(frames);
  values[static_cast<size_t>(Health::DrawnPerSecond)] = static_cast<float>(drawnPerSecond);
  values[static_cast<size_t>(Health::LongestDraw)] = static_cast<float>(*std::max_element(longestIn.begin(), longestIn.end()));
}

}  // namespace tool
