#include "rig/Tempo.h"

#include <algorithm>
#include <cmath>

#include "sys/NameTable.h"

namespace cli {

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
  while (pulses.size() > kBeatsFitted * kPulsesPerBeat + 1) pulses.pop_front();
  if (running) ++position;
  const size_t n = pulses.size();
  if (n < 3) return;
  // The slope of time against pulse number.
  double meanIndex = (static_cast<double>(n) - 1.0) / 2.0, meanTime = 0.0;
  for (double time : pulses) meanTime += time;
  meanTime /= static_cast<double>(n);
  double covariance = 0.0, variance = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double x = static_cast<double>(i) - meanIndex;
    covariance += x * (pulses[i] - meanTime);
    variance += x * x;
  }
  const double slope = covariance / variance;
  // Beyond 20-400 beats a minute is not a clock.
  if (slope > 60.0 / (400.0 * kPulsesPerBeat) && slope < 60.0 / (20.0 * kPulsesPerBeat)) pulsePeriod = slope;
}

void MidiClockTempo::Start() {
  running = true;
  position = -1;
}

TempoReading MidiClockTempo::At(double now) const {
  if (pulsePeriod <= 0.0 || pulses.empty() || now - pulses.back() > 2.0) return {};  // the clock stopped coming
  double beats = static_cast<double>(std::max(0L, position)) / kPulsesPerBeat;
  if (running && position >= 0)
    beats += std::clamp((now - pulses.back()) / pulsePeriod, 0.0, 1.0) / kPulsesPerBeat;
  return {60.0 / (pulsePeriod * kPulsesPerBeat), beats};
}

}  // namespace cli
