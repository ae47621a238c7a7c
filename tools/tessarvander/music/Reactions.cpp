#include "music/Reactions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tool {
namespace {

// "Nearly all the way" for attack and release: to within 1 %, which a
// one-pole follower reaches after 4.6 time constants.
constexpr double kTimeConstantsToSettle = 4.6;

// A pulse that falls from 1 at the event to exactly 0 at `x` = 1, fast at
// first like a struck sound.
double Pulse(double x) {
  if (x < 0.0 || x >= 1.0) return 0.0;
  const double settled = std::exp(-kTimeConstantsToSettle);
  return (std::exp(-kTimeConstantsToSettle * x) - settled) / (1.0 - settled);
}

// The share of the way a one-pole follower closes in one frame, for a
// follower that settles over `span` seconds.
double Closing(double span, double frameSeconds) {
  return span <= 0.0 ? 1.0 : 1.0 - std::exp(-frameSeconds * kTimeConstantsToSettle / span);
}

}  // namespace

double ReactionPulse(double x) { return Pulse(x); }

double ShapeAt(const Reaction& reaction, double beats, double seconds) {
  const MusicalSpan& rate = reaction.rate;
  const double length = rate.inBeats || rate.inBars ? rate.Beats() : rate.amount;
  const double cycles = (rate.inBeats || rate.inBars ? beats : seconds) / std::max(1e-9, length) + reaction.phase;
  const double x = cycles - std::floor(cycles);
  switch (reaction.feature) {
    case AudioFeature::LfoSine: return 0.5 - 0.5 * std::cos(2.0 * M_PI * x);
    case AudioFeature::LfoTriangle: return 1.0 - std::fabs(2.0 * x - 1.0);
    case AudioFeature::LfoSaw: return x;
    case AudioFeature::LfoSquare: return x < 0.5 ? 1.0 : 0.0;
    case AudioFeature::LfoRandom: {
      // A step held for each period: the period's number, mixed (SplitMix64).
      uint64_t h = static_cast<uint64_t>(static_cast<int64_t>(std::floor(cycles))) + 0x9e3779b97f4a7c15ull;
      h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ull;
      h = (h ^ (h >> 27)) * 0x94d049bb133111ebull;
      return static_cast<double>((h ^ (h >> 31)) >> 11) / 9007199254740992.0;
    }
    default: return 0.0;
  }
}

double TempoFeature(const Reaction& reaction, double beats, double seconds) {
  if (IsShape(reaction.feature)) return ShapeAt(reaction, beats, seconds);
  const double bar = MusicalSpan::kBeatsPerBar;
  switch (reaction.feature) {
    case AudioFeature::BeatPhase: return beats - std::floor(beats);
    case AudioFeature::BarPhase: return (beats - bar * std::floor(beats / bar)) / bar;
    default: return 0.0;
  }
}

void FillDefaults(Reaction& reaction, const ReactionTiming& timing) {
  // A shape is already the motion asked for: it is smoothed only when told.
  const bool shape = IsShape(reaction.feature);
  if (!reaction.attackGiven) reaction.attack = {shape ? 0.0 : timing.attack, false};
  if (!reaction.releaseGiven) reaction.release = {shape ? 0.0 : timing.release, false};
  if (!reaction.leadGiven) reaction.lead = {timing.lead, false};
}

float ReactionFollower::Next(double raw, double attackSeconds, double releaseSeconds, double frameSeconds) {
  double shaped = std::max(0.0, raw - reaction.threshold) / (1.0 - reaction.threshold);
  shaped = reaction.gain >= 0.0 ? std::min(1.0, reaction.gain * shaped)
                                : std::clamp(1.0 + reaction.gain * shaped, 0.0, 1.0);
  if (!IsRamp(reaction.feature)) {
    // Events fall by themselves; only their rise is followed.
    const bool rising = shaped > envelope;
    const double span = rising ? attackSeconds : IsEvent(reaction.feature) ? 0.0 : releaseSeconds;
    envelope += (shaped - envelope) * Closing(span, frameSeconds);
    shaped = envelope;
  }
  const double bent = std::pow(std::clamp(shaped, 0.0, 1.0), reaction.curve);
  return static_cast<float>(reaction.from + (static_cast<double>(reaction.to) - reaction.from) * bent);
}

ReactionCurves::ReactionCurves(const AudioAnalysis& analysis, const std::vector<Reaction>& given,
                               const ReactionTiming& timing, long frames)
    : analysis(analysis), reactions(given), timing(timing), frames(frames), values(given.size()) {
  const double frameSeconds = 1.0 / timing.framesPerSecond;
  const BeatGrid& grid = analysis.Grid();
  for (size_t r = 0; r < reactions.size(); ++r) {
    Reaction& reaction = reactions[r];
    FillDefaults(reaction, timing);
    ReactionFollower follower(reaction);
    values[r].resize(static_cast<size_t>(frames));
    for (long frame = 0; frame < frames; ++frame) {
      const double now = static_cast<double>(frame) * frameSeconds;
      const double seconds = now + reaction.lead.Seconds(grid.PeriodAt(now));
      const double period = grid.PeriodAt(seconds);
      values[r][static_cast<size_t>(frame)] = follower.Next(Raw(reaction, seconds), reaction.attack.Seconds(period),
                                                            reaction.release.Seconds(period), frameSeconds);
    }
  }
}

double ReactionCurves::Raw(const Reaction& reaction, double seconds) const {
  const double frameSeconds = 1.0 / timing.framesPerSecond;
  const BeatGrid& grid = analysis.Grid();
  switch (reaction.feature) {
    case AudioFeature::BeatPhase:
      return grid.BeatPhase(seconds);
    case AudioFeature::BarPhase:
      return grid.BarPhase(seconds);
    default:
      break;
  }
  if (IsShape(reaction.feature)) return ShapeAt(reaction, grid.Position(seconds), seconds);
  if (!IsEvent(reaction.feature)) return analysis.Continuous(reaction.feature, seconds, frameSeconds);
  // An event within the frame's span peaks in that frame.
  const double event = LastEventAt(analysis.Events(reaction.feature), seconds + frameSeconds * 0.999);
  if (event < 0.0) return 0.0;
  const double release = std::max(1e-6, reaction.release.Seconds(grid.PeriodAt(event)));
  return Pulse(std::max(0.0, seconds - event) / release);
}

float ReactionCurves::Feature(AudioFeature feature, long frame) const {
  Reaction plain;
  plain.feature = feature;
  plain.release = {timing.release, false};
  return static_cast<float>(Raw(plain, static_cast<double>(frame) / timing.framesPerSecond + timing.lead));
}

}  // namespace tool
