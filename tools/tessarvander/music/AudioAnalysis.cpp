#include "music/AudioAnalysis.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sys/BoundedFile.h"
#include "sys/ChildProcess.h"

namespace cli {
namespace {

constexpr int kSampleRate = 44100;
constexpr uint_t kWindow = 2048;
constexpr uint_t kHop = 512;

// The band edges in Hz: bass below 250, mid to 2000, treble to 16000.
constexpr double kBassTop = 250.0;
constexpr double kMidTop = 2000.0;
constexpr double kTrebleTop = 16000.0;

// Scales a series so that its largest value is 1 (an all-zero one stays 0).
void Normalise(std::vector<float>& series) {
  const float largest = series.empty() ? 0.0f : *std::max_element(series.begin(), series.end());
  if (largest <= 0.0f) return;
  for (float& value : series) value /= largest;
}

}  // namespace

ChildResult ProbeAudioStream(const std::string& path) {
  return RunChild({"ffprobe", "-v", "error", "-protocol_whitelist", "file", "-select_streams", "a:0", "-show_entries",
                   "stream=codec_name", "-of", "default=nw=1:nk=1", MediaPath(path)});
}

bool AnalyseAudioFile(const std::string& path, AudioTrack& track, AudioAnalysis& analysis, std::string& error) {
  if (!IsRegularFile(path)) {
    error = "--audio: no file at " + path;
    return false;
  }
  const ChildResult probe = ProbeAudioStream(path);
  if (!probe.started) {
    error = NotInstalled("ffprobe", "--audio");
    return false;
  }
  if (probe.exitCode != 0) {
    error = "--audio: " + path + " cannot be read: " + LastLine(probe.err);
    return false;
  }
  track.codec = LastLine(probe.out);
  if (track.codec.empty()) {
    error = "--audio: " + path + " has no audio stream";
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
    error = "--audio: ffmpeg cannot decode " + path + ": " + LastLine(decoded.err);
    return false;
  }
  analysis.End();
  track.path = path;
  track.sampleRate = kSampleRate;
  track.sampleCount = samples;
  return true;
}

bool ParseAudioFeature(const std::string& name, AudioFeature& feature) {
  for (AudioFeature candidate : kAudioFeatures) {
    if (name == AudioFeatureName(candidate)) {
      feature = candidate;
      return true;
    }
  }
  return false;
}

const char* AudioFeatureName(AudioFeature feature) {
  switch (feature) {
    case AudioFeature::Level:
      return "level";
    case AudioFeature::Bass:
      return "bass";
    case AudioFeature::Mid:
      return "mid";
    case AudioFeature::Treble:
      return "treble";
    case AudioFeature::Onset:
      return "onset";
    case AudioFeature::Beat:
      return "beat";
  }
  return "";
}

// aubio's objects and what is carried from one hop to the next.
struct AudioAnalysis::Stream {
  aubio_tempo_t* tempo = nullptr;
  aubio_fft_t* fft = nullptr;
  fvec_t* hop = nullptr;
  fvec_t* window = nullptr;
  fvec_t* shaped = nullptr;
  fvec_t* found = nullptr;
  cvec_t* spectrum = nullptr;
  std::vector<double> hann;
  std::vector<float> previousSpectrum;
  std::vector<float> flux;
  uint_t filled = 0;  // samples of the current hop
  double binHz = 0.0;
  long samples = 0;

  ~Stream() {
    if (spectrum) del_cvec(spectrum);
    if (found) del_fvec(found);
    if (shaped) del_fvec(shaped);
    if (window) del_fvec(window);
    if (hop) del_fvec(hop);
    if (fft) del_aubio_fft(fft);
    if (tempo) del_aubio_tempo(tempo);
  }
};

AudioAnalysis::AudioAnalysis() = default;
AudioAnalysis::~AudioAnalysis() = default;

bool AudioAnalysis::Begin(int sampleRate, std::string& error) {
  stream = std::make_unique<Stream>();
  const uint_t rate = static_cast<uint_t>(sampleRate);
  stream->tempo = new_aubio_tempo("default", kWindow, kHop, rate);
  stream->fft = new_aubio_fft(kWindow);
  if (!stream->tempo || !stream->fft) {
    error = "--audio: aubio cannot analyse at " + std::to_string(rate) + " Hz";
    stream.reset();
    return false;
  }
  stream->hop = new_fvec(kHop);
  stream->window = new_fvec(kWindow);
  stream->shaped = new_fvec(kWindow);
  stream->found = new_fvec(1);
  stream->spectrum = new_cvec(kWindow);
  stream->previousSpectrum.assign(stream->spectrum->length, 0.0f);
  stream->binHz = static_cast<double>(rate) / kWindow;
  stream->hann.resize(kWindow);
  for (uint_t i = 0; i < kWindow; ++i) stream->hann[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / (kWindow - 1));
  hopSeconds = static_cast<double>(kHop) / rate;
  level.clear(), bass.clear(), mid.clear(), treble.clear(), onsets.clear(), beats.clear();
  return true;
}

void AudioAnalysis::Feed(const float* samples, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    stream->hop->data[stream->filled++] = samples[i];
    if (stream->filled == kHop) AnalyseHop();
  }
  stream->samples += static_cast<long>(count);
}

void AudioAnalysis::AnalyseHop() {
  Stream& s = *stream;
  s.filled = 0;
  double sumSquares = 0.0;
  for (uint_t i = 0; i < kHop; ++i) sumSquares += static_cast<double>(s.hop->data[i]) * s.hop->data[i];
  level.push_back(static_cast<float>(std::sqrt(sumSquares / kHop)));

  aubio_tempo_do(s.tempo, s.hop, s.found);
  if (s.found->data[0] != 0.0f) beats.push_back(aubio_tempo_get_last_s(s.tempo));

  // The last window's worth of samples, for the band energies.
  std::memmove(s.window->data, s.window->data + kHop, (kWindow - kHop) * sizeof(smpl_t));
  std::memcpy(s.window->data + kWindow - kHop, s.hop->data, kHop * sizeof(smpl_t));
  for (uint_t i = 0; i < kWindow; ++i) s.shaped->data[i] = static_cast<smpl_t>(s.window->data[i] * s.hann[i]);
  aubio_fft_do(s.fft, s.shaped, s.spectrum);
  double bands[3] = {0.0, 0.0, 0.0};
  double rise = 0.0;
  for (uint_t bin = 1; bin < s.spectrum->length; ++bin) {
    rise += std::max(0.0f, s.spectrum->norm[bin] - s.previousSpectrum[bin]);
    s.previousSpectrum[bin] = s.spectrum->norm[bin];
    const double hz = bin * s.binHz;
    const double energy = static_cast<double>(s.spectrum->norm[bin]) * s.spectrum->norm[bin];
    if (hz < kBassTop) bands[0] += energy;
    else if (hz < kMidTop) bands[1] += energy;
    else if (hz < kTrebleTop) bands[2] += energy;
  }
  s.flux.push_back(static_cast<float>(rise));
  bass.push_back(static_cast<float>(bands[0]));
  mid.push_back(static_cast<float>(bands[1]));
  treble.push_back(static_cast<float>(bands[2]));
}

void AudioAnalysis::End() {
  // The last, short hop is filled with silence.
  if (stream->filled > 0) {
    for (uint_t i = stream->filled; i < kHop; ++i) stream->hop->data[i] = 0.0f;
    AnalyseHop();
  }
  const double trackSeconds = static_cast<double>(stream->samples) * hopSeconds / kHop;
  FindOnsets(stream->flux);
  // The tempo from the beats found: the median interval, which one stray
  // beat cannot move; aubio's own estimate when there are too few.
  if (beats.size() >= 3) {
    std::vector<double> intervals;
    for (size_t i = 1; i < beats.size(); ++i) intervals.push_back(beats[i] - beats[i - 1]);
    std::nth_element(intervals.begin(), intervals.begin() + intervals.size() / 2, intervals.end());
    bpm = 60.0 / intervals[intervals.size() / 2];
  } else if (aubio_tempo_get_bpm(stream->tempo) > 0) {
    bpm = aubio_tempo_get_bpm(stream->tempo);
  }
  CompleteBeatGrid(trackSeconds);
  for (std::vector<float>* series : {&level, &bass, &mid, &treble}) Normalise(*series);
  stream.reset();
  aubio_cleanup();
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

void AudioAnalysis::CompleteBeatGrid(double trackSeconds) {
  // The beat tracker needs a few seconds to lock on and may drop a beat in a
  // break; the grid carries its beats at the tempo back to the start, across
  // gaps and on to the end, so a beat reaction keeps time through the track.
  if (beats.empty() || bpm <= 0.0) return;
  const double period = 60.0 / bpm;
  std::vector<double> grid;
  for (double before = beats.front() - period; before >= 0.0; before -= period) grid.insert(grid.begin(), before);
  for (size_t i = 0; i < beats.size(); ++i) {
    grid.push_back(beats[i]);
    const double next = i + 1 < beats.size() ? beats[i + 1] : trackSeconds + period;
    const long missing = std::lround((next - beats[i]) / period) - 1;
    for (long m = 1; m <= missing; ++m) {
      const double filled = beats[i] + (next - beats[i]) * m / (missing + 1);
      if (filled < trackSeconds) grid.push_back(filled);
    }
  }
  beats = grid;
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

double AudioAnalysis::LastEvent(AudioFeature feature, double seconds) const {
  const std::vector<double>& events = feature == AudioFeature::Beat ? beats : onsets;
  const auto after = std::upper_bound(events.begin(), events.end(), seconds);
  return after == events.begin() ? -1.0 : *(after - 1);
}

float AudioAnalysis::BarPhase(double seconds) const {
  if (beats.size() < 2 || seconds < beats.front()) return 0.0f;
  const auto after = std::upper_bound(beats.begin(), beats.end(), seconds);
  const size_t index = static_cast<size_t>(after - beats.begin()) - 1;
  const double period = after != beats.end() ? *after - beats[index] : 60.0 / bpm;
  const double within = std::min(1.0, (seconds - beats[index]) / period);
  return static_cast<float>(std::fmod(static_cast<double>(index % 4) + within, 4.0) / 4.0);
}

}  // namespace cli
