// Parameters driven by the music: --react PARAM=FROM:TO:FEATURE moves a
// parameter between two values by an audio feature, frame by frame. Level,
// bass, mid and treble follow the track (rising at once, or over --attack,
// falling over --release); onset and beat are a pulse of 1 at each event that
// decays over --release. --lead evaluates the track that much ahead, so a
// picture may anticipate what is heard. Every curve is computed for the whole
// render before the first frame, from the global frame index, so any part of
// a render reacts exactly as the whole render does.
#pragma once

#include <string>
#include <vector>

#include "music/AudioAnalysis.h"
#include "session/ParameterControls.h"

namespace cli {

struct Reaction {
  uint32_t index = 0;
  float from = 0.0f;
  float to = 1.0f;
  AudioFeature feature = AudioFeature::Level;
};

// "NAME=FROM:TO:FEATURE". False with one line naming what is wrong.
bool ParseReaction(const std::string& text, const ParameterControls& names, Reaction& reaction, std::string& error);

struct ReactionTiming {
  double framesPerSecond = 60.0;
  double lead = 0.0;     // seconds
  double attack = 0.0;   // seconds
  double release = 0.25; // seconds
};

class ReactionCurves {
 public:
  // Every reaction's value for output frames 0 to frames - 1.
  ReactionCurves(const AudioAnalysis& analysis, const std::vector<Reaction>& reactions, const ReactionTiming& timing,
                 long frames);

  const std::vector<Reaction>& Reactions() const { return reactions; }
  float Value(size_t reaction, long frame) const { return values[reaction][static_cast<size_t>(frame)]; }
  // The feature as the reactions see it at a frame, before smoothing.
  float Feature(AudioFeature feature, long frame) const;

  // The features and the curves as CSV, one row a frame; then the plot of
  // them drawn by gnuplot. False with a reason (gnuplot missing names its
  // package; the CSV is written first either way).
  bool WriteReport(const std::string& pngPath, const ParameterControls& names, std::string& error) const;

 private:
  const AudioAnalysis& analysis;
  std::vector<Reaction> reactions;
  ReactionTiming timing;
  long frames;
  std::vector<std::vector<float>> values;
};

}  // namespace cli
