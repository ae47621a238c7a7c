// A music track, decoded and analysed before the first frame: what a render
// reacts to. ffmpeg decodes anything it can read to mono float samples;
// aubio tracks the beats and the tempo, and its FFT gives the band energies
// and the spectral flux whose peaks are the onsets. Every continuous feature
// is normalised over the whole track, to 0..1.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sys/ChildProcess.h"

namespace cli {

// A track as the analysis found it; its samples are not kept.
struct AudioTrack {
  std::string path;
  std::string codec;  // as ffprobe names it, e.g. "aac", "flac", "pcm_s16le"
  int sampleRate = 44100;
  long sampleCount = 0;  // mono
  double Seconds() const { return static_cast<double>(sampleCount) / sampleRate; }
};

// ffprobe's answer about the file's first audio stream: its codec's name on
// standard output, nothing there when there is none.
ChildResult ProbeAudioStream(const std::string& path);

class AudioAnalysis;

// Decodes the first audio stream of the file as a stream into the analysis.
// False with one line: no file, no audio stream, or ffmpeg cannot decode it
// (or is missing).
bool AnalyseAudioFile(const std::string& path, AudioTrack& track, AudioAnalysis& analysis, std::string& error);

enum class AudioFeature { Level, Bass, Mid, Treble, Onset, Beat };
// "level", "bass", "mid", "treble", "onset", "beat"; false for anything else.
bool ParseAudioFeature(const std::string& name, AudioFeature& feature);
const char* AudioFeatureName(AudioFeature feature);
constexpr AudioFeature kAudioFeatures[] = {AudioFeature::Level, AudioFeature::Bass,  AudioFeature::Mid,
                                           AudioFeature::Treble, AudioFeature::Onset, AudioFeature::Beat};

class AudioAnalysis {
 public:
  AudioAnalysis();
  ~AudioAnalysis();

  // Analyses a track as its samples arrive: Begin, Feed as often as they
  // come, End. Only per-hop features are kept (20 bytes a hop of 512
  // samples: about 12 MB for two hours at 44.1 kHz). Begin fails with a
  // reason when aubio cannot analyse at that rate.
  bool Begin(int sampleRate, std::string& error);
  void Feed(const float* samples, size_t count);
  void End();
  // All at once, for samples in memory.
  bool Analyse(const std::vector<float>& samples, int sampleRate, std::string& error);

  // A continuous feature (level, bass, mid, treble) at `seconds`: its mean
  // over the span [seconds, seconds + span), 0..1.
  float Continuous(AudioFeature feature, double seconds, double span) const;
  // The time of the last event (onset or beat) at or before `seconds`, or a
  // negative value when there is none yet.
  double LastEvent(AudioFeature feature, double seconds) const;

  double BeatsPerMinute() const { return bpm; }
  // Where `seconds` falls in a bar of four beats, 0..1, from the tracked
  // beats (the first beat starts a bar).
  float BarPhase(double seconds) const;
  const std::vector<double>& Beats() const { return beats; }
  const std::vector<double>& Onsets() const { return onsets; }

 private:
  struct Stream;
  void AnalyseHop();
  const std::vector<float>& Series(AudioFeature feature) const;
  void FindOnsets(const std::vector<float>& flux);
  void CompleteBeatGrid(double trackSeconds);

  double hopSeconds = 0.0;
  std::vector<float> level, bass, mid, treble;  // per hop
  std::vector<double> onsets, beats;
  double bpm = 120.0;
  std::unique_ptr<Stream> stream;
};

}  // namespace cli
