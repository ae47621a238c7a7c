#include "music/AudioAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>

#include "music/AubioHandles.h"
#include "music/Indexing.h"
#include "music/Median.h"
#include "music/Spectrum.h"
#include "sys/MediaProbe.h"
#include "sys/BoundedFile.h"
#include "sys/ChildProcess.h"

namespace tool {
namespace {

constexpr int kSampleRate = 44100;
constexpr uint_t kWindow = 2048;
constexpr uint_t kHop = 512;


// The onset strength and the colour bands: a mel filter bank, magnitudes
// scaled so a full-scale sine is about 1, then compressed
// (kMagnitudeCompression), which hears a quiet intro's drums as clearly as
// loud ones.
constexpr uint_t kMelBands = MelBank::kBands;
constexpr double kBassStrengthTop = 200.0;
// The harmony: energy per pitch class from 100 Hz to 2 kHz (the bass's
// upper notes to the melody's), from a spectrum of its own twice as long as
// the onsets' (93 ms): long enough to tell semitones apart that low, short
// enough for a chord's change to stand out at a fast tempo's beat. It
// slides on by four hops, and each of its spectra stands for the four hops
// at its centre. The drums' sound in it is taken out by a median over time
// (SettleHarmony).
constexpr uint_t kHarmonyWindow = 2 * kWindow;
constexpr uint_t kHarmonyHops = 4;
constexpr double kChromaLowest = 100.0, kChromaHighest = 2000.0;
constexpr long kChordHops = 16;  // either side: 186 ms

// The silence gate: below -60 dBFS, or 30 dB under the track's loud level
// (its 95th percentile), no beat falls.
constexpr double kSilenceFloor = 1e-3;
constexpr double kGateBelowLoud = 0.0316;

// Continuous features are scaled in dB between these percentiles of the
// sound; a band never reaches further down than kBandDepth under the
// loudest band's top, so a band that only leaks stays at 0.
constexpr double kQuietPercentile = 0.05, kLoudPercentile = 0.98;
constexpr double kBandDepthDb = 50.0;
constexpr double kLeastSpanDb = 6.0;

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0.0;
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(share * static_cast<double>(values.size())));
  std::nth_element(values.begin(), values.begin() + static_cast<long>(at), values.end());
  return values[at];
}

}  // namespace

bool AnalyseAudioFile(const std::string& path, AudioTrack& track, AudioAnalysis& analysis, std::string& error,
                      const std::string& asked) {
  if (!IsRegularFile(path)) {
    error = asked + ": " + (PathExists(path) ? path + " is not a regular file" : "no file at " + path);
    return false;
  }
  const ChildResult probe = ProbeAudioStream(path);
  if (!probe.started) {
    error = NotInstalled("ffprobe", asked);
    return false;
  }
  if (probe.exitCode != 0) {
    error = asked + ": " + path + " cannot be read: " + LastLine(probe.err);
    return false;
  }
  track.codec = LastLine(probe.out);
  if (track.codec.empty()) {
    error = asked + ": " + path + " has no audio stream";
    return false;
  }
  if (!analysis.Begin(kSampleRate, error)) return false;
  // Decoded as a stream: only the analysis's per-hop features are kept, so a
  // long track costs a few bytes per hop, never its samples.
  std::string partial;  // a sample split between two reads
  std::vector<float> chunk;
  long samples = 0;
  const ChildResult decoded = StreamChild(
      {"ffmpeg", "-v", "error", "-nostdin", "-protocol_whitelist", "file,pipe", "-i", MediaPath(path), "-map", "0:a:0",
       "-ac", "1", "-ar", std::to_string(kSampleRate), "-f", "f32le", "pipe:1"},
      [&](const char* data, size_t size) {
        partial.append(data, size);
        const size_t whole = partial.size() / sizeof(float);
        chunk.resize(whole);
        std::memcpy(chunk.data(), partial.data(), whole * sizeof(float));
        partial.erase(0, whole * sizeof(float));
        analysis.Feed(chunk.data(), whole);
        samples += static_cast<long>(whole);
        return true;
      });
  if (decoded.exitCode != 0 || samples == 0) {
    error = asked + ": ffmpeg cannot decode " + path + ": " + LastLine(decoded.err);
    return false;
  }
  analysis.End();
  track.path = path;
  track.sampleRate = kSampleRate;
  track.sampleCount = samples;
  return true;
}

// What is carried from one hop to the next.
struct AudioAnalysis::Stream {
  Spectrum spectrum;
  std::vector<float> hop;
  Spectrum harmony;
  std::vector<float> harmonyHops;  // the samples since the harmony's spectrum last slid
  std::vector<int> pitchClass;     // per bin of the harmony's spectrum, -1 outside the chroma's range
  float chroma[kPitchClasses] = {};
  MelBank mel;
  std::vector<float> previousSpectrum;
  std::vector<float> previousMel, previousBass;
  std::vector<float> flux;
  uint_t filled = 0;  // samples of the current hop
  long samples = 0;
};

AudioAnalysis::AudioAnalysis() = default;
AudioAnalysis::~AudioAnalysis() = default;
AudioAnalysis::AudioAnalysis(AudioAnalysis&&) noexcept = default;
AudioAnalysis& AudioAnalysis::operator=(AudioAnalysis&&) noexcept = default;


bool AudioAnalysis::Begin(int sampleRate, std::string& error) {
  stream = std::make_unique<Stream>();
  const uint_t rate = static_cast<uint_t>(sampleRate);
  std::string why;
  if (!stream->spectrum.Begin(kWindow, kHop, sampleRate, why) || !stream->mel.Begin(kWindow, sampleRate) ||
      !stream->harmony.Begin(kHarmonyWindow, kHop * kHarmonyHops, sampleRate, why)) {
    error = "--audio: aubio cannot analyse at " + std::to_string(rate) + " Hz";
    stream.reset();
    return false;
  }
  const size_t bins = stream->spectrum.Magnitudes().size();
  stream->hop.assign(kHop, 0.0f);
  stream->previousSpectrum.assign(bins, 0.0f);
  stream->previousMel.assign(kMelBands, 0.0f);
  stream->previousBass.assign(bins, 0.0f);
  const size_t harmonyBins = stream->harmony.Magnitudes().size();
  stream->pitchClass.assign(harmonyBins, -1);
  for (uint_t bin = 1; bin < harmonyBins; ++bin) {
    const double hz = bin * stream->harmony.BinHz();
    if (hz >= kChromaLowest && hz < kChromaHighest)
      stream->pitchClass[bin] = static_cast<int>(std::lround(12.0 * std::log2(hz / 440.0)) % 12 + 12) % 12;
  }
  hopSeconds = static_cast<double>(kHop) / rate;
  level.clear(), bass.clear(), mid.clear(), treble.clear(), onsets.clear();
  curve = OnsetCurve();
  curve.hopSeconds = hopSeconds;
  grid = BeatGrid();
  return true;
}

void AudioAnalysis::Feed(const float* samples, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    stream->hop[stream->filled++] = samples[i];
    if (stream->filled == kHop) AnalyseHop();
  }
  stream->samples += static_cast<long>(count);
}

void AudioAnalysis::AnalyseHop() {
  Stream& s = *stream;
  s.filled = 0;
  double sumSquares = 0.0;
  for (uint_t i = 0; i < kHop; ++i) sumSquares += static_cast<double>(s.hop[i]) * s.hop[i];
  level.push_back(static_cast<float>(std::sqrt(sumSquares / kHop)));

  s.spectrum.Push(s.hop.data());
  const std::vector<float>& magnitudes = s.spectrum.Magnitudes();
  double bands[3];
  s.spectrum.BandEnergies(bands);
  double rise = 0.0, bassRise = 0.0;
  for (uint_t bin = 1; bin < magnitudes.size(); ++bin) {
    rise += std::max(0.0f, magnitudes[bin] - s.previousSpectrum[bin]);
    s.previousSpectrum[bin] = magnitudes[bin];
    const double hz = bin * s.spectrum.BinHz();
    if (hz < kBassStrengthTop) {
      const float compressed = Spectrum::Compressed(magnitudes[bin]);
      bassRise += std::max(0.0f, compressed - s.previousBass[bin]);
      s.previousBass[bin] = compressed;
    }
  }
  s.flux.push_back(static_cast<float>(rise));
  // The onset strength: the rise of the compressed mel bands; the colour:
  // the compressed bands in groups.
  double strength = 0.0;
  float colour[kColourBands] = {};
  float energies[kMelBands];
  s.mel.Energies(magnitudes, energies);
  for (uint_t band = 0; band < kMelBands; ++band) {
    const float compressed = Spectrum::Compressed(energies[band]);
    strength += std::max(0.0f, compressed - s.previousMel[band]);
    s.previousMel[band] = compressed;
    colour[band * kColourBands / kMelBands] += compressed / (kMelBands / kColourBands);
  }
  curve.strength.push_back(static_cast<float>(strength));
  curve.bassStrength.push_back(static_cast<float>(bassRise));
  curve.colour.insert(curve.colour.end(), colour, colour + kColourBands);
  s.harmonyHops.insert(s.harmonyHops.end(), s.hop.begin(), s.hop.end());
  if (s.harmonyHops.size() == kHop * kHarmonyHops) {
    s.harmony.Push(s.harmonyHops.data());
    s.harmonyHops.clear();
    const std::vector<float>& pitched = s.harmony.Magnitudes();
    std::fill(s.chroma, s.chroma + kPitchClasses, 0.0f);
    for (uint_t bin = 1; bin < pitched.size(); ++bin)
      if (s.pitchClass[bin] >= 0) s.chroma[s.pitchClass[bin]] += pitched[bin] * pitched[bin];
  }
  curve.chroma.insert(curve.chroma.end(), s.chroma, s.chroma + kPitchClasses);
  bass.push_back(static_cast<float>(bands[0]));
  mid.push_back(static_cast<float>(bands[1]));
  treble.push_back(static_cast<float>(bands[2]));
}

void AudioAnalysis::End() {
  // The last, short hop is filled with silence.
  if (stream->filled > 0) {
    for (uint_t i = stream->filled; i < kHop; ++i) stream->hop[i] = 0.0f;
    AnalyseHop();
  }
  SettleHarmony();
  FindOnsets(stream->flux);
  GateSilence();
  grid = TrackBeats(curve, beatOptions);
  ScaleToDecibels();
  stream.reset();
  aubio_cleanup();
}

// Each hop's pitch classes from the harmony's spectrum centred where the
// hop's own is (that spectrum ends half the difference of the two windows
// later, and stands for the hops around its centre); then, per pitch class,
// the median over kChordHops either side: a chord holds for a beat or more,
// a drum's sound for a fraction of one, so what is left is the harmony
// without the kicks and snares sounding in its pitch classes.
void AudioAnalysis::SettleHarmony() {
  constexpr size_t lag = (kHarmonyWindow - kWindow) / 2 / kHop + kHarmonyHops / 2;
  std::vector<float>& chroma = curve.chroma;
  const long hops = Count(chroma) / kPitchClasses;
  if (hops <= static_cast<long>(lag)) return;
  chroma.erase(chroma.begin(), chroma.begin() + static_cast<long>(lag * kPitchClasses));
  const std::vector<float> last(chroma.end() - kPitchClasses, chroma.end());
  for (size_t h = 0; h < lag; ++h) chroma.insert(chroma.end(), last.begin(), last.end());

  std::vector<float> held(chroma.size()), around;
  for (long h = 0; h < hops; ++h)
    for (int c = 0; c < kPitchClasses; ++c) {
      around.clear();
      for (long k = std::max(0L, h - kChordHops); k <= std::min(hops - 1, h + kChordHops); ++k)
        around.push_back(At(chroma, k * kPitchClasses + c));
      At(held, h * kPitchClasses + c) = Median(around);
    }
  chroma.swap(held);
}

void AudioAnalysis::GateSilence() {
  std::vector<double> heard;
  for (float value : level)
    if (value > kSilenceFloor) heard.push_back(value);
  const double gate = std::max(kSilenceFloor, Percentile(heard, 0.95) * kGateBelowLoud);
  curve.sound.resize(level.size());
  for (size_t h = 0; h < level.size(); ++h) curve.sound[h] = level[h] >= gate ? 1 : 0;
}

void AudioAnalysis::ScaleToDecibels() {
  // Level is an amplitude, the bands are energies.
  const auto decibels = [](const std::vector<float>& series, double perUnit, const std::vector<uint8_t>& sound) {
    std::vector<double> values(series.size());
    for (size_t h = 0; h < series.size(); ++h) values[h] = perUnit * std::log10(std::max(1e-20, static_cast<double>(series[h])));
    std::vector<double> heard;
    for (size_t h = 0; h < series.size(); ++h)
      if (sound[h]) heard.push_back(values[h]);
    return std::make_pair(values, heard);
  };
  const auto scale = [](std::vector<float>& series, const std::vector<double>& values, double quiet, double loud,
                        const std::vector<uint8_t>& sound) {
    const double span = std::max(kLeastSpanDb, loud - quiet);
    for (size_t h = 0; h < series.size(); ++h)
      series[h] = sound[h] ? static_cast<float>(std::clamp(1.0 - (loud - values[h]) / span, 0.0, 1.0)) : 0.0f;
  };
  {
    const auto [values, heard] = decibels(level, 20.0, curve.sound);
    scale(level, values, Percentile(heard, kQuietPercentile), Percentile(heard, kLoudPercentile), curve.sound);
  }
  // The bands share a floor under the loudest band's top.
  std::vector<float>* bands[] = {&bass, &mid, &treble};
  std::vector<double> values[3], heard[3];
  double loudest = -400.0;
  for (int b = 0; b < 3; ++b) {
    std::tie(values[b], heard[b]) = decibels(*bands[b], 10.0, curve.sound);
    loudest = std::max(loudest, Percentile(heard[b], kLoudPercentile));
  }
  for (int b = 0; b < 3; ++b) {
    const double floor = loudest - kBandDepthDb;
    const double quiet = std::max(floor, Percentile(heard[b], kQuietPercentile));
    const double loud = std::max(quiet + kLeastSpanDb, Percentile(heard[b], kLoudPercentile));
    scale(*bands[b], values[b], quiet, loud, curve.sound);
  }
}

bool AudioAnalysis::Analyse(const std::vector<float>& samples, int sampleRate, std::string& error) {
  if (!Begin(sampleRate, error)) return false;
  Feed(samples.data(), samples.size());
  End();
  return true;
}

void AudioAnalysis::FindOnsets(const std::vector<float>& flux) {
  // An onset is a hop whose spectral flux (the sum of every frequency's
  // rise since the hop before) peaks above its neighbourhood: above the
  // local mean by a share of the track's largest flux, and at least
  // kMinimumOnsetGap after the one before.
  constexpr long kNeighbourhood = 8;
  constexpr double kMinimumOnsetGap = 0.05;
  constexpr double kShareOfLargest = 0.1;
  const double largest = flux.empty() ? 0.0 : *std::max_element(flux.begin(), flux.end());
  double last = -1.0;
  for (long h = 0; h < static_cast<long>(flux.size()); ++h) {
    double sum = 0.0;
    long count = 0;
    bool peak = true;
    for (long n = h - kNeighbourhood; n <= h + kNeighbourhood; ++n) {
      if (n < 0 || n >= static_cast<long>(flux.size()) || n == h) continue;
      sum += flux[static_cast<size_t>(n)];
      ++count;
      if (flux[static_cast<size_t>(n)] > flux[static_cast<size_t>(h)] ||
          (n < h && flux[static_cast<size_t>(n)] == flux[static_cast<size_t>(h)]))
        peak = false;
    }
    const double seconds = static_cast<double>(h) * hopSeconds;
    if (peak && flux[static_cast<size_t>(h)] > sum / std::max(1L, count) + kShareOfLargest * largest &&
        (last < 0.0 || seconds - last >= kMinimumOnsetGap)) {
      onsets.push_back(seconds);
      last = seconds;
    }
  }
}

const std::vector<float>& AudioAnalysis::Series(AudioFeature feature) const {
  switch (feature) {
    case AudioFeature::Bass:
      return bass;
    case AudioFeature::Mid:
      return mid;
    case AudioFeature::Treble:
      return treble;
    default:
      return level;
  }
}

float AudioAnalysis::Continuous(AudioFeature feature, double seconds, double span) const {
  const std::vector<float>& series = Series(feature);
  if (series.empty() || seconds < 0.0) return 0.0f;
  const long first = static_cast<long>(std::floor(seconds / hopSeconds));
  const long end = std::max(first + 1, static_cast<long>(std::ceil((seconds + span) / hopSeconds)));
  double sum = 0.0;
  long count = 0;
  for (long h = first; h < end; ++h) {
    if (h < 0 || h >= static_cast<long>(series.size())) continue;
    sum += series[static_cast<size_t>(h)];
    ++count;
  }
  return count > 0 ? static_cast<float>(sum / count) : 0.0f;
}

const std::vector<double>& AudioAnalysis::Events(AudioFeature feature) const {
  switch (feature) {
    case AudioFeature::Beat:
      return grid.Beats();
    case AudioFeature::Downbeat:
      return grid.Downbeats();
    case AudioFeature::HalfBeat:
      return grid.HalfBeats();
    case AudioFeature::DoubleBeat:
      return grid.DoubleBeats();
    case AudioFeature::Offbeat:
      return grid.Offbeats();
    case AudioFeature::Section:
      return grid.Sections();
    default:
      return onsets;
  }
}

}  // namespace tool
