#include "music/LiveAnalysis.h"

#include <algorithm>
#include <cmath>

#include "music/AubioHandles.h"
#include "music/Median.h"
#include "music/Spectrum.h"

namespace tool {
namespace {

constexpr float kLoudestSample = 16.0f;  // 24 dB over full scale
// What the history keeps, for frames read at their own time.
constexpr double kHistorySeconds = 2.0;
// Sound after a silence this long starts a new stretch: the tempo path
// forgets what came before it.
constexpr double kNewStretchSeconds = 1.0;
// The onsets whose delay the reaction delay is the median of.
constexpr size_t kOnsetDelaysKept = 16;

}  // namespace

struct LiveAnalysis::Aubio {
  AubioTempo tempo;  // the grid's first beat and period
  AubioVector hop, found;
  Spectrum spectrum;
};

LiveAnalysis::LiveAnalysis() = default;
LiveAnalysis::~LiveAnalysis() = default;

bool LiveAnalysis::Begin(int sampleRate, std::string& error) {
  aubio = std::make_unique<Aubio>();
  rate = sampleRate;
  Aubio& a = *aubio;
  std::string why;
  a.tempo.reset(sampleRate < 8000 || sampleRate > 384000
                    ? nullptr
                    : new_aubio_tempo("default", kWindow, kHop, static_cast<uint_t>(sampleRate)));
  if (!a.tempo || !a.spectrum.Begin(kWindow, kHop, sampleRate, why) || !tempo.Begin(kHop, sampleRate, why) ||
      !onsets.Begin(kWindow, kHop, sampleRate, why)) {
    error = "live audio: aubio cannot analyse at " + std::to_string(sampleRate) + " Hz";
    aubio.reset();
    return false;
  }
  a.hop.reset(new_fvec(kHop));
  a.found.reset(new_fvec(1));
  hops = 0;
  filled = 0;
  return true;
}

double LiveAnalysis::LatencySeconds() const { return static_cast<double>(kWindow - kHop) / 2.0 / rate; }

double LiveAnalysis::OnsetDelaySeconds() const {
  if (onsetDelays.empty()) return LatencySeconds();
  return Median(std::vector<double>(onsetDelays.begin(), onsetDelays.end()));
}

void LiveAnalysis::Feed(const float* samples, size_t count) {
  if (!aubio) return;
  for (size_t i = 0; i < count; ++i) {
    // A broken driver's samples (not numbers, or far past full scale) are
    // held to a bound, so no sum of squares overflows.
    aubio->hop->data[filled++] = std::isfinite(samples[i]) ? std::clamp(samples[i], -kLoudestSample, kLoudestSample) : 0.0f;
    if (filled == kHop) AnalyseHop();
  }
}

// One hop: the spectrum, the tempo path, the levels, the onsets, the grid,
// and the history.
void LiveAnalysis::AnalyseHop() {
  Aubio& a = *aubio;
  filled = 0;
  ++hops;
  const double now = Seconds();
  const float hopSeconds = static_cast<float>(kHop) / static_cast<float>(rate);
  const float* samples = a.hop->data;

  a.spectrum.Push(samples);
  if (const double heard = tempo.Hop(samples, now, hopSeconds, soundSince); heard > 0.0) {
    if (!grid.Locked()) {
      grid.StartAt(heard);
    } else if (tempo.Weigh(heard, grid.Period(), now)) {
      grid.TakeTempo(heard, now);
      tempo.Took(now);
    }
  }
  double bands[3];
  a.spectrum.BandEnergies(bands);
  double squares = 0.0;
  for (unsigned i = 0; i < kHop; ++i) squares += static_cast<double>(samples[i]) * samples[i];
  levels.Hop(squares / kHop, bands, hopSeconds);
  if (levels.LevelDb() > LiveLevels::kSilenceGateDb) {
    if (now - lastSound > kNewStretchSeconds) soundSince = now;
    lastSound = now;
  }

  double strength = 0.0;
  double onset = onsets.Hop(a.hop.get(), a.spectrum.Magnitudes(), now, hopSeconds, strength);
  if (onset >= 0.0) {
    onsetDelays.push_back(now - onset);
    if (onsetDelays.size() > kOnsetDelaysKept) onsetDelays.pop_front();
  }
  aubio_tempo_do(a.tempo.get(), a.hop.get(), a.found.get());
  const bool aubioBeat = a.found->data[0] != 0.0f;
  // Until the tempo path has heard a whole stretch, aubio's period starts
  // the grid.
  const double aubiosPeriod = aubio_tempo_get_period_s(a.tempo.get());
  const bool pathWhole = now - soundSince >= LiveTempo::kFollowSeconds;
  if (aubioBeat && !grid.Locked() && !pathWhole && aubiosPeriod > 0.0) grid.StartAt(aubiosPeriod);
  if (onset >= 0.0) grid.Heard(onset, strength);
  // A soft onset (a pad's chord, a note's fade) never moves the grid.
  if (onset >= 0.0 && grid.Soft(strength)) onset = -1.0;
  if (grid.Hop(now, static_cast<double>(kHop) / rate, onset, aubioBeat, lastSound)) tempo.Locked(now);

  history.push_back({now,
                     {levels.Shown(0), levels.Shown(1), levels.Shown(2), levels.Shown(3)},
                     {levels.Decibels(0), levels.Decibels(1), levels.Decibels(2), levels.Decibels(3)},
                     onsets.Last()});
  while (!history.empty() && history.front().at < now - kHistorySeconds) history.pop_front();
}

const LiveAnalysis::Moment* LiveAnalysis::MomentAt(double seconds) const {
  if (history.empty()) return nullptr;
  // The last hop analysed at or before that time (the first one kept if earlier).
  auto after = std::upper_bound(history.begin(), history.end(), seconds,
                                [](double at, const Moment& moment) { return at < moment.at; });
  return after == history.begin() ? &history.front() : &*std::prev(after);
}

namespace {

// Level, bass, mid and treble's place among the shown values; -1 for the rest.
int ShownIndex(AudioFeature feature) {
  switch (feature) {
    case AudioFeature::Level: return 0;
    case AudioFeature::Bass: return 1;
    case AudioFeature::Mid: return 2;
    case AudioFeature::Treble: return 3;
    default: return -1;
  }
}

}  // namespace

float LiveAnalysis::Continuous(AudioFeature feature) const {
  const int k = ShownIndex(feature);
  return k < 0 ? 0.0f : levels.Shown(k);
}

float LiveAnalysis::ContinuousAt(AudioFeature feature, double seconds) const {
  const Moment* moment = MomentAt(seconds);
  if (!moment) return Continuous(feature);
  const int k = ShownIndex(feature);
  return k < 0 ? 0.0f : moment->shown[k];
}

float LiveAnalysis::DecibelsAt(AudioFeature feature, double seconds) const {
  const int k = ShownIndex(feature);
  const Moment* moment = MomentAt(seconds);
  if (k < 0) return LiveLevels::kSilenceGateDb;
  return moment ? moment->decibels[k] : levels.Decibels(k);
}

double LiveAnalysis::LastEvent(AudioFeature feature) const {
  switch (feature) {
    case AudioFeature::Onset: return onsets.Last();
    case AudioFeature::Beat: return grid.LastBeat();
    case AudioFeature::Downbeat: return grid.LastDownbeat();
    default: return -1.0;
  }
}

double LiveAnalysis::LastEventAt(AudioFeature feature, double seconds) const {
  if (feature == AudioFeature::Onset) {
    const Moment* moment = MomentAt(seconds);
    return moment ? moment->lastOnset : onsets.Last();
  }
  const double told = grid.LastTold(feature == AudioFeature::Downbeat, seconds);
  if (told >= 0.0) return told;
  return seconds >= Seconds() ? LastEvent(feature) : -1.0;
}

bool LiveAnalysis::Live(AudioFeature feature) {
  switch (feature) {
    case AudioFeature::HalfBeat:
    case AudioFeature::DoubleBeat:
    case AudioFeature::Offbeat:
    case AudioFeature::Section:
      return false;
    default:
      return true;
  }
}

}  // namespace tool
