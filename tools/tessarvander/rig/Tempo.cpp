#include "rig/Tempo.h"

#include <algorithm>
#include <cmath>

#include "sys/NameTable.h"

namespace tool {

float TempoReading::BarPhase(int beatsPerBar) const {
  if (!Known()) return 0.0f;
  const double bar = std::fmod(beats, static_cast<double>(beatsPerBar));
  return static_cast<float>((bar < 0.0 ? bar + beatsPerBar : bar) / beatsPerBar);
}

int TempoReading::BeatInBar(int beatsPerBar) const {
  if (!Known()) return 0;
  return static_cast<int>(BarPhase(beatsPerBar) * static_cast<float>(beatsPerBar)) % beatsPerBar;
}

namespace {
constexpr Named<TempoSource> kNames[] = {{TempoSource::Tap, "tap"},
                                 {TempoSource::MidiClock, "midi-clock"},
                                 {TempoSource::Link, "link"},
                                 {TempoSource::Audio, "audio"}};
}  // namespace

const char* TempoSourceName(TempoSource source) { return NameOf(kNames, source); }

bool ParseTempoSource(const std::string& name, TempoSource& source) { return ValueNamed(kNames, name, source); }

void TapTempo::Tap(double now) {
  if (!taps.empty() && now - taps.back() > kLongestGap) taps.clear();
  beatsSinceStart = taps.empty() ? 0 : beatsSinceStart + 1;
  taps.push_back(now);
  while (taps.size() > kTapsKept) taps.pop_front();
  if (taps.size() >= 2) period = (taps.back() - taps.front()) / static_cast<double>(taps.size() - 1);
  anchor = now;
}

TempoReading TapTempo::At(double now) const {
  if (period <= 0.0) return {};
  return {60.0 / period, static_cast<double>(beatsSinceStart) + (now - anchor) / period};
}

void MidiClockTempo::Pulse(double at) {
  pulses.push_back(at);
  lastOnTime = at;
  while (pulses.size() > kBeatsFitted * kPulsesPerBeat + 1) pulses.pop_front();
  if (running) ++position;
  const size_t n = pulses.size();
  if (n < 3) return;
  // Pulses arrive late, never early (but for a part of the MIDI system's
  // buffer): the true line lies under them all. Of the lines under every
  // pulse, the one closest to them is an edge of their lower hull, the
  // edge over the middle pulse; a late burst lifts points off the hull and
  // leaves the slope alone.
  hull.clear();
  for (size_t i = 0; i < n; ++i) {
    while (hull.size() >= 2) {
      const size_t a = hull[hull.size() - 2], b = hull.back();
      // b is above the chord from a to i: not on the lower hull.
      if ((pulses[b] - pulses[a]) * static_cast<double>(i - a) >= (pulses[i] - pulses[a]) * static_cast<double>(b - a))
        hull.pop_back();
      else
        break;
    }
    hull.push_back(i);
  }
  const double middle = (static_cast<double>(n) - 1.0) / 2.0;
  size_t edge = 1;
  while (edge + 1 < hull.size() && static_cast<double>(hull[edge]) < middle) ++edge;
  const double slope = (pulses[hull[edge]] - pulses[hull[edge - 1]]) / static_cast<double>(hull[edge] - hull[edge - 1]);
  // Beyond 20-400 beats a minute is not a clock.
  if (slope > 60.0 / (400.0 * kPulsesPerBeat) && slope < 60.0 / (20.0 * kPulsesPerBeat)) pulsePeriod = slope;
  // When the newest pulse was due, on that line: every reading counts from
  // there, so a late burst moves no beat.
  if (pulsePeriod > 0.0) lastOnTime = pulses[hull[edge - 1]] + static_cast<double>(n - 1 - hull[edge - 1]) * pulsePeriod;
}

void MidiClockTempo::Start() {
  running = true;
  position = -1;
}

TempoReading MidiClockTempo::At(double now) const {
  if (pulsePeriod <= 0.0 || pulses.empty() || now - pulses.back() > 2.0) return {};  // the clock stopped coming
  double beats = static_cast<double>(std::max(0L, position)) / kPulsesPerBeat;
  // Any time reads off the line, before the newest pulse (a frame that
  // catches up) or after it (up to a beat: a clock that stops coming holds).
  if (running && position >= 0)
    beats += std::clamp((now - lastOnTime) / pulsePeriod, -1.0 * kPulsesPerBeat, 1.0 * kPulsesPerBeat) / kPulsesPerBeat;
  return {60.0 / (pulsePeriod * kPulsesPerBeat), beats};
}

}  // namespace tool
