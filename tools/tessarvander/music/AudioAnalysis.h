// A music track, decoded and analysed before the first frame: what a render
// reacts to. ffmpeg decodes anything it can read to mono float samples;
// aubio's FFT and mel filter bank give, per hop, the band energies, the
// spectral flux whose peaks are the onsets, and the onset strength the beat
// tracker follows. Every continuous feature is scaled over the whole track.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "music/AudioFeatures.h"
#include "music/BeatGrid.h"
#include "music/BeatTracker.h"
#include "sys/ChildProcess.h"

namespace tool {

// A track as the analysis found it; its samples are not kept.
struct AudioTrack {
  std::string path;
  std::string codec;  // as ffprobe names it, e.g. "aac", "flac", "pcm_s16le"
  int sampleRate = 44100;
  long sampleCount = 0;  // mono
  double Seconds() const { return static_cast<double>(sampleCount) / sampleRate; }
};

class AudioAnalysis;

// Decodes the first audio stream of the file as a stream into the analysis.
// False with one line: no file, no audio stream, or ffmpeg cannot decode it
// (or is missing).
// `asked`: what named the file, for the messages ("--audio", "direct").
bool AnalyseAudioFile(const std::string& path, AudioTrack& track, AudioAnalysis& analysis, std::string& error,
                      const std::string& asked = "--audio");

class AudioAnalysis {
 public:
  AudioAnalysis();
  ~AudioAnalysis();
  AudioAnalysis(AudioAnalysis&&) noexcept;
  AudioAnalysis& operator=(AudioAnalysis&&) noexcept;

  // What the user decides of the beats instead of the tracker; read at End.
  BeatOptions beatOptions;

  // Analyses a track as its samples arrive: Begin, Feed as often as they
  // come, End. Only per-hop features are kept (about 120 bytes a hop of 512
  // samples: 75 MB for two hours at 44.1 kHz). Begin fails with a reason
  // when aubio cannot analyse at that rate.
  bool Begin(int sampleRate, std::string& error);
  void Feed(const float* samples, size_t count);
  void End();
  // All at once, for samples in memory.
  bool Analyse(const std::vector<float>& samples, int sampleRate, std::string& error);

  // A continuous feature (level, bass, mid, treble) at `seconds`: its mean
  // over the span [seconds, seconds + span), 0..1.
  float Continuous(AudioFeature feature, double seconds, double span) const;
  // An event feature's times.
  const std::vector<double>& Events(AudioFeature feature) const;
  const BeatGrid& Grid() const { return grid; }
  const std::vector<double>& Onsets() const { return onsets; }
  double HopSeconds() const { return hopSeconds; }

 private:
  struct Stream;
  void AnalyseHop();
  const std::vector<float>& Series(AudioFeature feature) const;
  void FindOnsets(const std::vector<float>& flux);
  void SettleHarmony();
  void GateSilence();
  void ScaleToDecibels();

  double hopSeconds = 0.0;
  std::vector<float> level, bass, mid, treble;  // per hop
  OnsetCurve curve;
  std::vector<double> onsets;
  BeatGrid grid;
  std::unique_ptr<Stream> stream;
};

}  // namespace tool
