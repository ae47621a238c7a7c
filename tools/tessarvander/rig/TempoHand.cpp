#include "rig/TempoHand.h"

#include <algorithm>
#include <cmath>

namespace tool {

double TempoHand::Raw(const TempoReading& source, double time) const {
  if (locked) return lockedRaw + (time - lockedAt) * lockedBeatsPerMinute / 60.0;
  return source.beats * factor;
}

double TempoHand::Pushed(double time) const {
  if (pushing == 0) return 0.0;
  const double pushed = std::clamp(time - pushFrom, 0.0, kLongestPush);
  return pushing * kPushRate * pushed;
}

TempoReading TempoHand::Read(const TempoReading& source, double time) const {
  if (locked) return {lockedBeatsPerMinute, Raw(source, time) + Offset(time)};
  if (!source.Known()) return {};
  return {source.beatsPerMinute * factor, Raw(source, time) + Offset(time)};
}

void TempoHand::EndPush(double at) {
  offset += Pushed(at);
  pushing = 0;
}

void TempoHand::Nudge(int direction, bool held, double at) {
  EndPush(at);
  if (!held || direction == 0) return;
  const int sign = direction > 0 ? 1 : -1;
  offset += sign * kNudgeBeats;
  pushing = sign;
  pushFrom = at + kPushAfter;
}

bool TempoHand::One(const TempoReading& source, double at) {
  const TempoReading now = Read(source, at);
  if (!now.Known()) return false;
  // Forward to the next bar line, so the beats never run back.
  const double into = std::fmod(now.beats, static_cast<double>(kBeatsPerBar));
  const double ahead = into < 0.0 ? -into : (into == 0.0 ? 0.0 : kBeatsPerBar - into);
  offset += ahead;
  return true;
}

bool TempoHand::Scale(double by, const TempoReading& source, double at) {
  const TempoReading now = Read(source, at);
  const double wanted = factor * by;
  if (!now.Known() || wanted < kSmallestFactor || wanted > kLargestFactor) return false;
  EndPush(at);
  if (locked) {
    lockedRaw = Raw(source, at);
    lockedAt = at;
    lockedBeatsPerMinute *= by;
  }
  const double before = Raw(source, at);
  factor = wanted;
  offset += before - Raw(source, at);
  return true;
}

bool TempoHand::Lock(bool on, const TempoReading& source, double at) {
  if (on == locked) return true;
  EndPush(at);
  if (on) {
    if (!source.Known()) return false;
    lockedRaw = Raw(source, at);
    lockedAt = at;
    lockedBeatsPerMinute = source.beatsPerMinute * factor;
    locked = true;
    return true;
  }
  const double held = Raw(source, at);
  locked = false;
  // The source leads again from where the held beats stand: no jump.
  if (source.Known()) offset += held - Raw(source, at);
  return true;
}

}  // namespace tool
