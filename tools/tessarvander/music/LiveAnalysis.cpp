#include "music/LiveAnalysis.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace cli {
namespace {

// The band edges in Hz, as for a whole track.
constexpr double kBassTop = 250.0;
constexpr double kMidTop = 2000.0;
constexpr double kTrebleTop = 16000.0;
// Levels span this many dB under the recent loudest; the loudest falls back
// this fast when the music gets quieter, and never under the floor (so a
// quiet room stays dark).
constexpr float kRangeDb = 40.0f;
constexpr float kLoudestFallsDbPerSecond = 40.0f / 30.0f;
constexpr float kLoudestFloorDb = -40.0f;
constexpr float kSilenceDb = -120.0f;
// The shown values are a mean over about 20 ms, near a frame at 60.
constexpr float kSmoothing = 0.25f;

// An onset within this share of a period of a beat is on it.
constexpr double kOnBeat = 0.2;
constexpr int kBeatsToLetGo = 8;
// Quieter than this for a whole beat is silence: no beat is told in it.
constexpr float kSilenceGateDb = -60.0f;
constexpr size_t kIntervalsKept = 8;

float Decibels(double power) { return power > 1e-12 ? static_cast<float>(10.0 * std::log10(power)) : kSilenceDb; }

}  // namespace

struct LiveAnalysis::Aubio {
  ~Aubio() {
    if (onset) del_aubio_onset(onset);
    if (tempo) del_aubio_tempo(tempo);
    if (fft) del_aubio_fft(fft);
    if (hop) del_fvec(hop);
    if (window) del_fvec(window);
    if (shaped) del_fvec(shaped);
    if (found) del_fvec(found);
    if (spectrum) del_cvec(spectrum);
    if (complexSpectrum) del_fvec(complexSpectrum);
  }
  aubio_onset_t* onset = nullptr;
  aubio_tempo_t* tempo = nullptr;
  aubio_fft_t* fft = nullptr;
  fvec_t *hop = nullptr, *window = nullptr, *shaped = nullptr, *found = nullptr, *complexSpectrum = nullptr;
  cvec_t* spectrum = nullptr;
  std::vector<float> hann;
};

LiveAnalysis::LiveAnalysis() = default;
LiveAnalysis::~LiveAnalysis() = default;

bool LiveAnalysis::Begin(int sampleRate, std::string& error) {
  aubio = std::make_unique<Aubio>();
  rate = sampleRate;
  Aubio& a = *aubio;
  const uint_t samplerate = static_cast<uint_t>(std::max(1, sampleRate));
  a.onset = new_aubio_onset("default", kWindow, kHop, samplerate);
  a.tempo = new_aubio_tempo("default", kWindow, kHop, samplerate);
  a.fft = new_aubio_fft(kWindow);
  if (sampleRate < 8000 || sampleRate > 384000 || !a.onset || !a.tempo || !a.fft) {
    error = "live audio: aubio cannot analyse at " + std::to_string(sampleRate) + " Hz";
    aubio.reset();
    return false;
  }
  aubio_onset_set_minioi_ms(a.onset, 50.0f);
  a.hop = new_fvec(kHop);
  a.window = new_fvec(kWindow);
  a.shaped = new_fvec(kWindow);
  a.found = new_fvec(1);
  a.complexSpectrum = new_fvec(kWindow);
  a.spectrum = new_cvec(kWindow);
  a.hann.resize(kWindow);
  for (unsigned i = 0; i < kWindow; ++i) a.hann[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * i / (kWindow - 1)));
  hops = 0;
  filled = 0;
  return true;
}

double LiveAnalysis::LatencySeconds() const { return static_cast<double>(kWindow - kHop) / 2.0 / rate; }

void LiveAnalysis::Feed(const float* samples, size_t count) {
  if (!aubio) return;
  for (size_t i = 0; i < count; ++i) {
    aubio->hop->data[filled++] = std::isfinite(samples[i]) ? samples[i] : 0.0f;
    if (filled == kHop) AnalyseHop();
  }
}

void LiveAnalysis::AnalyseHop() {
  Aubio& a = *aubio;
  filled = 0;
  ++hops;
  const double now = Seconds();
  const float hopSeconds = static_cast<float>(kHop) / static_cast<float>(rate);

  double hopSquares = 0.0;
  for (unsigned i = 0; i < kHop; ++i) hopSquares += static_cast<double>(a.hop->data[i]) * a.hop->data[i];
  if (Decibels(hopSquares / kHop * 2.0) > kSilenceGateDb) lastSound = now;

  // Events: aubio's detectors take the hop as it is.
  aubio_onset_do(a.onset, a.hop, a.found);
  double onset = -1.0;
  if (a.found->data[0] != 0.0f) {
    lastOnset = now;
    onset = std::min(now, static_cast<double>(aubio_onset_get_last_s(a.onset)));
  }
  aubio_tempo_do(a.tempo, a.hop, a.found);
  const bool aubioBeat = a.found->data[0] != 0.0f;
  if (aubioBeat && !locked) period = aubio_tempo_get_period_s(a.tempo);
  FollowBeats(now, onset, aubioBeat);

  // The bands of the last window.
  std::memmove(a.window->data, a.window->data + kHop, (kWindow - kHop) * sizeof(smpl_t));
  std::memcpy(a.window->data + kWindow - kHop, a.hop->data, kHop * sizeof(smpl_t));
  for (unsigned i = 0; i < kWindow; ++i) a.shaped->data[i] = a.window->data[i] * a.hann[i];
  aubio_fft_do_complex(a.fft, a.shaped, a.complexSpectrum);
  aubio_fft_get_norm(a.complexSpectrum, a.spectrum);
  double bands[3] = {0.0, 0.0, 0.0};
  const double binHz = static_cast<double>(rate) / kWindow;
  const double fullScale = kWindow / 4.0;  // a full-scale sine's peak
  for (uint_t bin = 1; bin < a.spectrum->length; ++bin) {
    const double hz = bin * binHz;
    const double energy = std::pow(a.spectrum->norm[bin] / fullScale, 2.0);
    if (hz < kBassTop) bands[0] += energy;
    else if (hz < kMidTop) bands[1] += energy;
    else if (hz < kTrebleTop) bands[2] += energy;
  }
  levels[0] = Decibels(hopSquares / kHop * 2.0);  // a full-scale sine at 0 dB
  for (int band = 0; band < 3; ++band) levels[band + 1] = Decibels(bands[band]);

  loudest = std::max({levels[0], loudest - kLoudestFallsDbPerSecond * hopSeconds, kLoudestFloorDb});
  const float bandTop = std::max({levels[1], levels[2], levels[3]});
  loudestBand = std::max({bandTop, loudestBand - kLoudestFallsDbPerSecond * hopSeconds, kLoudestFloorDb});
  for (int k = 0; k < 4; ++k) {
    const float top = k == 0 ? loudest : loudestBand;
    const float scaled = std::clamp((levels[k] - (top - kRangeDb)) / kRangeDb, 0.0f, 1.0f);
    shown[k] += (scaled - shown[k]) * kSmoothing;
  }
}

void LiveAnalysis::Emit(double now) {
  lastBeat = now;
  if (beatCount % kBeatsPerBar == 0) lastDownbeat = now;
  ++beatCount;
}

void LiveAnalysis::FollowBeats(double now, double onset, bool aubioBeat) {
  const double hopSeconds = static_cast<double>(kHop) / rate;
  if (!locked) {
    if (!aubioBeat || period <= 0.0) return;
    locked = true;
    gridBeat = now;
    next = now + period;
    lastOnBeat = onset >= 0.0 && now - onset < kOnBeat * period ? onset : -1.0;
    beatsWithoutOnset = 0;
    intervals.clear();
    beatsPerMinute = 60.0 / period;
    Emit(now);
    return;
  }
  if (onset >= 0.0) {
    // An onset near the beat just passed, or the one coming: the grid moves
    // onto it, and its distance from the last such onset refines the period.
    const bool nearPassed = std::fabs(onset - gridBeat) < kOnBeat * period;
    const bool nearNext = std::fabs(onset - next) < kOnBeat * period;
    if (nearPassed || nearNext) {
      if (nearNext) Emit(now);  // early: the beat is here
      gridBeat = onset;
      next = onset + period;
      if (lastOnBeat >= 0.0) {
        const double beats = std::round((onset - lastOnBeat) / period);
        if (beats >= 1.0 && beats <= 4.0) {
          intervals.push_back((onset - lastOnBeat) / beats);
          if (intervals.size() > kIntervalsKept) intervals.erase(intervals.begin());
          std::vector<double> sorted = intervals;
          std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
          period = sorted[sorted.size() / 2];
          beatsPerMinute = 60.0 / period;
          next = onset + period;
        }
      }
      lastOnBeat = onset;
      beatsWithoutOnset = 0;
    }
  }
  // The beat falls due within this hop: it is told now, on time, unless a
  // whole beat has been silent.
  if (now + hopSeconds / 2.0 >= next) {
    if (now - lastSound > period) {
      locked = false;
      beatsPerMinute = 0.0;
      return;
    }
    Emit(now);
    gridBeat = next;
    next += period;
    if (++beatsWithoutOnset > kBeatsToLetGo) {
      locked = false;
      beatsPerMinute = 0.0;
    }
  }
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

}  // namespace cli
