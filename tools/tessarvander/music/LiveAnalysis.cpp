#include "music/LiveAnalysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "music/AubioHandles.h"
#include "music/BeatTracker.h"
#include "music/Spectrum.h"

namespace tool {
namespace {

// Levels span this many dB under the recent loudest; the loudest falls back
// this fast when the music gets quieter, and never under the floor (so a
// quiet room stays dark).
constexpr float kRangeDb = 40.0f;
constexpr float kLoudestFallsDbPerSecond = 40.0f / 30.0f;
constexpr float kLoudestFloorDb = -40.0f;
constexpr float kSilenceDb = -120.0f;
constexpr float kLoudestSample = 16.0f;  // 24 dB over full scale
// The shown values are a mean over about 20 ms, near a frame at 60.
constexpr float kSmoothing = 0.25f;

// The flux: the rise of the compressed magnitudes (kMagnitudeCompression).
// A transient's rise peaks this long after it sounds, as the window's end
// passes it (measured on clicks).
constexpr double kFluxLagSeconds = 0.008;
// The hops an onset is looked for in: aubio finds it within these.
constexpr unsigned kRecentHops = 8;
// An onset within this share of a period of a beat is on it.
constexpr double kOnBeat = 0.2;
constexpr int kBeatsToLetGo = 8;
constexpr double kTempoChange = 0.03;
// Onsets between the beats must be this much stronger, over this many
// onsets weighed, to move the grid half a beat.
constexpr double kOffBeatStronger = 1.5;
constexpr int kWeighedBeforeMoving = 8;
constexpr double kWeighing = 0.2;
// An onset weaker than this share of those on the beats is soft.
constexpr double kSoftOnset = 0.4;
// Quieter than this for a whole beat is silence: no beat is told in it.
constexpr float kSilenceGateDb = -60.0f;
// The period is the slope of a line fitted through the onsets of the last
// beats that had one, against their beat numbers: finer than the hops the
// onsets are placed on, where the median of their intervals flipped between
// two whole hops (165.4 and 170.5 a minute on a 169 track).
constexpr size_t kBeatsFitted = 24;
// What the history keeps, for frames read at their own time.
constexpr double kHistorySeconds = 2.0;
// The tempo is followed over the onset strength of the last seconds, every
// half second: a shorter stretch than the track's windows of 8 s, so that a
// change is heard sooner (once most of the stretch is of the new tempo,
// about five seconds), long enough that a slow tempo's four periods fit.
// The strength is read through the same window and mel bank as the track's.
constexpr double kFollowSeconds = 6.0;
constexpr double kFollowEverySeconds = 0.5;
constexpr unsigned kTempoWindow = 2048;
// How long the path must propose a tempo before the grid takes it: a
// change at once (twice running), a related level for as long as the path
// agreed with the grid before, up to two of the track's windows.
constexpr double kChangeHold = 0.5;
constexpr double kLongestLevelHold = 16.0;
// The grid's first tempo is confirmed once the path agrees with it for two
// seconds running.
constexpr int kConfirmingChecks = 4;
constexpr double kRelatedLevels[] = {0.5, 2.0 / 3.0, 0.75, 4.0 / 3.0, 1.5, 2.0};

float Decibels(double power) { return power > 1e-12 ? static_cast<float>(10.0 * std::log10(power)) : kSilenceDb; }

}  // namespace

struct LiveAnalysis::Aubio {
  AubioOnset onset;
  AubioTempo tempo;
  AubioVector hop, found;
  Spectrum spectrum;
  std::vector<float> previous;  // the last compressed magnitudes
  // The tempo's onset strength, as the track's analysis reads it: the
  // same window and bank.
  Spectrum tempoSpectrum;
  MelBank mel;
  float previousMel[MelBank::kBands] = {};
  std::array<std::pair<double, double>, kRecentHops> recentFlux{};  // (time, rise) by hop
};

LiveAnalysis::LiveAnalysis() = default;
LiveAnalysis::~LiveAnalysis() = default;

bool LiveAnalysis::Begin(int sampleRate, std::string& error) {
  aubio = std::make_unique<Aubio>();
  rate = sampleRate;
  Aubio& a = *aubio;
  const uint_t samplerate = static_cast<uint_t>(std::max(1, sampleRate));
  std::string why;
  if (sampleRate < 8000 || sampleRate > 384000 || !a.spectrum.Begin(kWindow, kHop, sampleRate, why) ||
      !a.tempoSpectrum.Begin(kTempoWindow, kHop, sampleRate, why) || !a.mel.Begin(kTempoWindow, sampleRate)) {
    error = "live audio: aubio cannot analyse at " + std::to_string(sampleRate) + " Hz";
    aubio.reset();
    return false;
  }
  a.onset.reset(new_aubio_onset("default", kWindow, kHop, samplerate));
  a.tempo.reset(new_aubio_tempo("default", kWindow, kHop, samplerate));
  if (!a.onset || !a.tempo) {
    error = "live audio: aubio cannot analyse at " + std::to_string(sampleRate) + " Hz";
    aubio.reset();
    return false;
  }
  aubio_onset_set_minioi_ms(a.onset.get(), 50.0f);
  a.hop.reset(new_fvec(kHop));
  a.found.reset(new_fvec(1));
  a.previous.assign(a.spectrum.Magnitudes().size(), 0.0f);
  follower = std::make_unique<TempoFollower>(2.0 * kHop / sampleRate);
  hops = 0;
  filled = 0;
  return true;
}

bool LiveAnalysis::TempoConfident() const { return locked && confirmed; }

double LiveAnalysis::LatencySeconds() const { return static_cast<double>(kWindow - kHop) / 2.0 / rate; }

void LiveAnalysis::Feed(const float* samples, size_t count) {
  if (!aubio) return;
  for (size_t i = 0; i < count; ++i) {
    // A broken driver's samples (not numbers, or far past full scale) are
    // held to a bound, so no sum of squares overflows.
    aubio->hop->data[filled++] = std::isfinite(samples[i]) ? std::clamp(samples[i], -kLoudestSample, kLoudestSample) : 0.0f;
    if (filled == kHop) AnalyseHop();
  }
}

void LiveAnalysis::AnalyseHop() {
  Aubio& a = *aubio;
  filled = 0;
  ++hops;
  const double now = Seconds();
  const float hopSeconds = static_cast<float>(kHop) / static_cast<float>(rate);

  // The spectrum of the last window: the bands, and the flux (the rise of
  // the log-compressed magnitudes) that places an onset between hops.
  a.spectrum.Push(a.hop->data);
  const std::vector<float>& magnitudes = a.spectrum.Magnitudes();
  double bands[3];
  a.spectrum.BandEnergies(bands);
  double flux = 0.0;
  for (size_t bin = 1; bin < magnitudes.size(); ++bin) {
    const float compressed = Spectrum::Compressed(magnitudes[bin]);
    flux += std::max(0.0f, compressed - a.previous[bin]);
    a.previous[bin] = compressed;
  }
  a.recentFlux[hops % kRecentHops] = {now, flux};
  // The tempo reads the rise of the compressed mel bands, as the track's
  // analysis does: the bins' own rise is ruled by the cymbals.
  a.tempoSpectrum.Push(a.hop->data);
  float energies[MelBank::kBands];
  a.mel.Energies(a.tempoSpectrum.Magnitudes(), energies);
  double melFlux = 0.0;
  for (unsigned band = 0; band < MelBank::kBands; ++band) {
    const float compressed = Spectrum::Compressed(energies[band]);
    melFlux += std::max(0.0f, compressed - a.previousMel[band]);
    a.previousMel[band] = compressed;
  }
  recentFlux.push_back(melFlux);
  if (static_cast<double>(recentFlux.size()) * hopSeconds > kFollowSeconds) recentFlux.pop_front();
  if (hops % std::max(1L, std::lround(kFollowEverySeconds / hopSeconds)) == 0) FollowTempo(now);
  double hopSquares = 0.0;
  for (unsigned i = 0; i < kHop; ++i) hopSquares += static_cast<double>(a.hop->data[i]) * a.hop->data[i];
  levels[0] = Decibels(hopSquares / kHop * 2.0);  // a full-scale sine at 0 dB
  for (int band = 0; band < 3; ++band) levels[band + 1] = Decibels(bands[band]);
  if (levels[0] > kSilenceGateDb) {
    // Sound after a silence of a second or more starts a new stretch: the
    // tempo path forgets what came before it.
    if (now - lastSound > 1.0) soundSince = now;
    lastSound = now;
  }

  // Events: aubio's detectors find them; an onset is placed at the largest
  // rise of the hops it was found in, less the window's lag.
  aubio_onset_do(a.onset.get(), a.hop.get(), a.found.get());
  double onset = -1.0, largest = -1.0;
  if (a.found->data[0] != 0.0f) {
    lastOnset = now;
    for (const auto& [time, rise] : a.recentFlux)
      if (time > now - kRecentHops * hopSeconds && rise > largest) largest = rise, onset = time;
    onset -= kFluxLagSeconds;
  }
  aubio_tempo_do(a.tempo.get(), a.hop.get(), a.found.get());
  const bool aubioBeat = a.found->data[0] != 0.0f;
  // Until the tempo path has heard enough, aubio's period starts the grid.
  const double aubiosPeriod = aubio_tempo_get_period_s(a.tempo.get());
  if (aubioBeat && !locked && !PathIsWhole(now) && aubiosPeriod > 0.0) period = aubiosPeriod;
  if (onset >= 0.0) {
    WeighOnset(onset, largest);
    recentOnsets.push_back({onset, largest});
  }
  while (!recentOnsets.empty() && recentOnsets.front().first < now - kHistorySeconds) recentOnsets.pop_front();
  // A soft onset (a pad's chord, a note's fade) never moves the grid.
  if (onset >= 0.0 && locked && largest < kSoftOnset * onStrength) onset = -1.0;
  FollowBeats(now, onset, aubioBeat);

  loudest = std::max({levels[0], loudest - kLoudestFallsDbPerSecond * hopSeconds, kLoudestFloorDb});
  const float bandTop = std::max({levels[1], levels[2], levels[3]});
  loudestBand = std::max({bandTop, loudestBand - kLoudestFallsDbPerSecond * hopSeconds, kLoudestFloorDb});
  for (int k = 0; k < 4; ++k) {
    const float top = k == 0 ? loudest : loudestBand;
    const float scaled = std::clamp((levels[k] - (top - kRangeDb)) / kRangeDb, 0.0f, 1.0f);
    shown[k] += (scaled - shown[k]) * kSmoothing;
  }
  history.push_back({now, {shown[0], shown[1], shown[2], shown[3]}, lastOnset});
  while (!history.empty() && history.front().at < now - kHistorySeconds) history.pop_front();
}

const LiveAnalysis::Moment* LiveAnalysis::MomentAt(double seconds) const {
  if (history.empty()) return nullptr;
  // The last hop analysed at or before that time (the first one kept if earlier).
  auto after = std::upper_bound(history.begin(), history.end(), seconds,
                                [](double at, const Moment& moment) { return at < moment.at; });
  return after == history.begin() ? &history.front() : &*std::prev(after);
}

float LiveAnalysis::ContinuousAt(AudioFeature feature, double seconds) const {
  const Moment* moment = MomentAt(seconds);
  if (!moment) return Continuous(feature);
  switch (feature) {
    case AudioFeature::Level: return moment->shown[0];
    case AudioFeature::Bass: return moment->shown[1];
    case AudioFeature::Mid: return moment->shown[2];
    case AudioFeature::Treble: return moment->shown[3];
    default: return 0.0f;
  }
}

double LiveAnalysis::LastEventAt(AudioFeature feature, double seconds) const {
  if (feature == AudioFeature::Onset) {
    const Moment* moment = MomentAt(seconds);
    return moment ? moment->lastOnset : lastOnset;
  }
  for (auto beat = beatsTold.rbegin(); beat != beatsTold.rend(); ++beat) {
    if (beat->first > seconds) continue;
    if (feature == AudioFeature::Beat) return beat->first;
    if (static_cast<long>(beat->second) % kBeatsPerBar == 0) return beat->first;
  }
  return seconds >= Seconds() ? LastEvent(feature) : -1.0;
}

double LiveAnalysis::BeatsAt(double seconds) const {
  if (!locked || beatsTold.empty()) return Beats();
  for (auto beat = beatsTold.rbegin(); beat != beatsTold.rend(); ++beat)
    if (beat->first <= seconds) return beat->second + std::min((seconds - beat->first) / period, 0.999);
  return Beats();
}

void LiveAnalysis::Emit(double now) {
  lastBeat = now;
  if (beatCount % kBeatsPerBar == 0) lastDownbeat = now;
  ++beatCount;
  beatsTold.push_back({now, static_cast<double>(beatCount - 1)});
  while (!beatsTold.empty() && beatsTold.front().first < now - kHistorySeconds) beatsTold.pop_front();
}

void LiveAnalysis::FollowBeats(double now, double onset, bool aubioBeat) {
  const double hopSeconds = static_cast<double>(kHop) / rate;
  const double reach = kOnBeat * period;
  if (!locked) {
    if (!aubioBeat || period <= 0.0) return;
    locked = true;
    confirmed = false;
    agreedFor = 0;
    tempoSince = now;
    proposed = 0.0;
    proposedFor = 0;
    fitted.clear();
    onStrength = offStrength = 0.0;
    weighed = 0;
    lastOnBeat = -1.0;
    beatsWithoutOnset = 0;
    beatsPerMinute = 60.0 / period;
    early = onset >= 0.0 && now - onset < reach ? onset : -1.0;
    next = now;
    StartBeat(now);
    return;
  }
  if (onset >= 0.0) {
    // Of the onsets near a beat, before or after it, the nearest moves the
    // grid onto it: a sound just before the beat (a note's end, a pickup)
    // does not pull it early when the beat's own onset follows.
    if (std::fabs(onset - predicted) < reach && std::fabs(onset - predicted) < std::fabs(onBeat - predicted)) {
      onBeat = onset;
      next = onset + period;
    } else if (std::fabs(onset - next) < reach && (early < 0.0 || std::fabs(onset - next) < std::fabs(early - next))) {
      early = onset;
    }
  }
  // The beat falls due within this hop: it is told now, on time, unless a
  // whole beat has been silent.
  if (locked && now + hopSeconds / 2.0 >= next) {
    if (now - lastSound > period || beatsWithoutOnset >= kBeatsToLetGo) {
      locked = false;
      beatsPerMinute = 0.0;
      return;
    }
    StartBeat(now);
  }
}

// A grid at the right tempo can sit half a beat off (on the off-beat
// hi-hats, which sound as regularly as the beats). The onsets near the
// beats and those half way between are weighed as they come; when those
// between are clearly the stronger, the grid moves by half a beat.
void LiveAnalysis::WeighOnset(double onset, double strength) {
  if (!locked || period <= 0.0) return;
  const double phase = (onset - predicted) / period - std::floor((onset - predicted) / period);
  const double fromBeat = std::min(phase, 1.0 - phase);  // 0 on a beat, 0.5 half way
  if (fromBeat < kOnBeat) onStrength += (strength - onStrength) * kWeighing;
  else if (std::fabs(fromBeat - 0.5) < kOnBeat) offStrength += (strength - offStrength) * kWeighing;
  else return;
  if (++weighed >= kWeighedBeforeMoving && offStrength > kOffBeatStronger * onStrength) {
    next += period / 2.0;
    predicted += period / 2.0;
    onBeat = early = lastOnBeat = -1.0;
    fitted.clear();
    std::swap(onStrength, offStrength);
    weighed = 0;
  }
}

// Whether the path has heard kFollowSeconds of this stretch of sound.
bool LiveAnalysis::PathIsWhole(double now) const { return now - soundSince >= kFollowSeconds; }

// The tempo path over the last seconds, every half second. Unlocked, the
// grid starts at its tempo; locked, the grid keeps its own, finer period
// (fitted to the onsets on its beats) until the path proposes another,
// steadily: one that is no related level of the grid's (a change of tempo)
// twice running; a related level (half, double, two or three thirds, three
// or four quarters), which a part with busier subdivisions can speak for
// without the tempo changing, only after as long as the path agreed with
// the grid before, up to kLongestLevelHold.
void LiveAnalysis::FollowTempo(double now) {
  std::vector<double> strength(recentFlux.size() / 2);
  // Read at the track's analysis's hop, two of these: the blur and the
  // evidence then weigh the onsets alike.
  const size_t skip = recentFlux.size() % 2;
  for (size_t i = 0; i < strength.size(); ++i) strength[i] = recentFlux[skip + 2 * i] + recentFlux[skip + 2 * i + 1];
  const bool whole = PathIsWhole(now);
  const double heard = follower->Follow(strength, whole);
  // Until the path has heard a whole stretch of sound, the grid keeps the
  // tempo it locked at (aubio's).
  if (!(heard > 0.0) || !whole) return;
  if (!locked) {
    period = heard;
    return;
  }
  const bool differs = std::fabs(heard / period - 1.0) > kTempoChange;
  const bool steady = proposed > 0.0 && std::fabs(heard / proposed - 1.0) <= kTempoChange;
  if (!differs) {
    proposed = 0.0;
    proposedFor = 0;
    confirmed = confirmed || ++agreedFor >= kConfirmingChecks;
    return;
  }
  agreedFor = 0;
  if (!steady) proposedSince = now, proposedFor = 0;
  proposed = heard;
  ++proposedFor;
  bool related = false;
  for (double ratio : kRelatedLevels) related = related || std::fabs(heard / period / ratio - 1.0) <= kTempoChange;
  // A related level must be proposed as long as the path agreed with the
  // grid's before it (once it had heard a whole stretch), up to a bound.
  const double agreed = std::max(0.0, proposedSince - std::max(tempoSince, kFollowSeconds));
  const double hold = related ? std::clamp(agreed, kChangeHold, kLongestLevelHold) : kChangeHold;
  if ((proposedFor - 1) * kFollowEverySeconds >= hold) TakeTempo(heard, now);
}

// The grid at a new tempo, its next beat a whole number of the new periods
// after the strongest onset of the last two (a kick or a snare, on a beat
// more often than not), or after the beat last told.
void LiveAnalysis::TakeTempo(double newPeriod, double now) {
  period = newPeriod;
  beatsPerMinute = 60.0 / period;
  fitted.clear();
  onBeat = early = -1.0;
  proposed = 0.0;
  proposedFor = 0;
  tempoSince = now;
  agreedFor = kConfirmingChecks;  // the path's own tempo
  confirmed = true;
  double anchor = predicted, strongest = 0.0;
  for (const auto& [time, strength] : recentOnsets)
    if (time > now - 2.0 * period && strength > strongest) anchor = time, strongest = strength;
  next = anchor + period * (std::floor((now - anchor) / period) + 1.0);
}

namespace {

// The slope of the line through (beat number, onset) fitted by least
// squares, then again without the onsets far off it (a syncopated hit the
// grid took for its beat): more than three times the median distance, and
// more than 4 ms.
double RobustSlope(const std::deque<std::pair<double, double>>& points) {
  const auto fit = [](const std::vector<std::pair<double, double>>& used, double& slope, double& intercept) {
    double n = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    for (const auto& [x, y] : used) n += 1.0, sx += x, sy += y, sxx += x * x, sxy += x * y;
    slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    intercept = (sy - slope * sx) / n;
  };
  std::vector<std::pair<double, double>> used(points.begin(), points.end());
  double slope = 0.0, intercept = 0.0;
  fit(used, slope, intercept);
  std::vector<double> distances;
  for (const auto& [x, y] : used) distances.push_back(std::fabs(y - (intercept + slope * x)));
  std::vector<double> sorted = distances;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
  const double reach = std::max(3.0 * sorted[sorted.size() / 2], 0.004);
  std::vector<std::pair<double, double>> kept;
  for (size_t i = 0; i < used.size(); ++i)
    if (distances[i] <= reach) kept.push_back(used[i]);
  if (kept.size() >= 4 && kept.size() < used.size()) fit(kept, slope, intercept);
  return slope;
}

}  // namespace

// A beat told now, due at `next`: the last beat's onset, if it had one, refines the period
// (the slope of the line through the last onsets on beats).
void LiveAnalysis::StartBeat(double now) {
  if (onBeat >= 0.0) {
    const double number = static_cast<double>(beatCount - 1);  // the beat the onset fell on
    if (!fitted.empty() && (number - fitted.back().first > 4.0 || onBeat <= fitted.back().second)) fitted.clear();
    fitted.push_back({number, onBeat});
    if (fitted.size() > kBeatsFitted) fitted.pop_front();
    if (fitted.size() >= 4) {
      const double slope = RobustSlope(fitted);
      // A slope far off the grid's period is a change aubio will report.
      if (std::fabs(slope / period - 1.0) < kTempoChange) {
        period = slope;
        beatsPerMinute = 60.0 / period;
      }
    }
    lastOnBeat = onBeat;
    beatsWithoutOnset = 0;
  } else {
    ++beatsWithoutOnset;
  }
  predicted = next;
  onBeat = early;
  early = -1.0;
  next = (onBeat >= 0.0 ? onBeat : predicted) + period;
  Emit(now);
}

float LiveAnalysis::Continuous(AudioFeature feature) const {
  switch (feature) {
    case AudioFeature::Level: return shown[0];
    case AudioFeature::Bass: return shown[1];
    case AudioFeature::Mid: return shown[2];
    case AudioFeature::Treble: return shown[3];
    default: return 0.0f;
  }
}

double LiveAnalysis::LastEvent(AudioFeature feature) const {
  switch (feature) {
    case AudioFeature::Onset: return lastOnset;
    case AudioFeature::Beat: return lastBeat;
    case AudioFeature::Downbeat: return lastDownbeat;
    default: return -1.0;
  }
}

double LiveAnalysis::Beats() const {
  if (beatCount == 0 || !locked) return 0.0;
  const double since = (Seconds() - lastBeat) / period;
  return static_cast<double>(beatCount - 1) + std::min(since, 0.999);
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
