#include "app/Progress.h"

#include <unistd.h>

#include <cstdio>

namespace tool {

Progress::Progress(std::string label, long total, bool enabled)
    : label(std::move(label)),
      total(total),
      enabled(enabled && isatty(STDERR_FILENO)),
      start(std::chrono::steady_clock::now()),
      lastDrawn(start) {}

double Progress::ElapsedSeconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Progress::Update(long done) {
  if (!enabled) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn && done < total && now - lastDrawn < std::chrono::milliseconds(200)) return;
  lastDrawn = now;
  drawn = true;
  const double elapsed = ElapsedSeconds();
  const double rate = elapsed > 0.0 ? done / elapsed : 0.0;
  const long left = rate > 0.0 ? static_cast<long>((total - done) / rate + 0.5) : 0;
  std::fprintf(stderr, "\r%s %ld/%ld frames  %.1f fps  %ld:%02ld left   ", label.c_str(), done, total, rate,
               left / 60, left % 60);
  std::fflush(stderr);
}

void Progress::Finish() {
  if (!enabled || !drawn) return;
  std::fprintf(stderr, "\r%*s\r", 72, "");
  std::fflush(stderr);
}

}  // namespace tool
