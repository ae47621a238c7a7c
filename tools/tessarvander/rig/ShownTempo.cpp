#include "rig/ShownTempo.h"

#include <cmath>

namespace tool {
namespace {

bool Differs(double a, double b, double share) { return b <= 0.0 || std::fabs(a / b - 1.0) > share; }

}  // namespace

bool ShownTempo::Update(double now, double bpm, bool trusted) {
  if (bpm <= 0.0) {
    changing = false;
    return false;
  }
  const bool differs = Differs(bpm, shown, kChange);
  if (!trusted) {
    changing = differs;
    holding = 0.0;  // trust starts the holding anew
    return false;
  }
  if (Differs(bpm, holding, kChange)) holding = bpm, holdingSince = now;
  if (Differs(bpm, settling, kSettled)) settling = bpm, settlingSince = now;
  const bool changed = differs && now - holdingSince >= kHeldSeconds;
  const bool settled = !settledShown && now - settlingSince >= kSettledSeconds && std::fabs(bpm - shown) >= 0.05;
  changing = differs && !changed;
  if (!changed && !settled) return false;
  shown = bpm;
  settledShown = settled && !changed;
  return true;
}

void ShownTempo::Accept(double now, double bpm) {
  shown = holding = settling = bpm;
  holdingSince = settlingSince = now;
  settledShown = true;
  changing = false;
}

}  // namespace tool
