// Parameters driven by the music:
//   --react "NAME=FROM:TO:FEATURE[,attack=T][,release=T][,lead=T][,curve=X][,gain=G][,threshold=L]"
// moves a parameter between two values by an audio feature, frame by frame.
// A tempo-locked shape (lfo-sine, lfo-triangle, lfo-saw, lfo-square,
// lfo-random) also takes rate=T (its period: 1b by default, or 2bar, or
// seconds) and phase=P (0..1 of the period).
// A reaction's value is made in this order:
//   1. the feature at the frame's time plus `lead`;
//   2. `threshold` cuts what lies below it and rescales the rest to 0..1;
//      `gain` multiplies (a negative gain ducks: 1 at rest, pulled down);
//   3. a continuous feature follows with `attack` and `release` (the time to
//      rise or fall nearly all the way); an event is a pulse of 1 that falls
//      to 0 over `release`, its rise softened by `attack`; a ramp is used as
//      it is;
//   4. `curve` bends the result (v^curve), and FROM:TO maps it.
// Times are seconds, or beats with a `b` (release=0.5b); --attack, --release
// and --lead give the defaults. Every curve is computed for the whole render
// before the first frame, from the global frame index, so any part of a
// render reacts exactly as the whole render does.
#pragma once

#include <string>
#include <vector>

#include "music/AudioAnalysis.h"
#include "formats/ParameterControls.h"

namespace tool {

// A time in seconds, or in beats or bars (of four beats) of the music at that
// moment.
struct MusicalSpan {
  static constexpr int kBeatsPerBar = 4;
  double amount = 0.0;
  bool inBeats = false;
  bool inBars = false;
  double Beats() const { return inBars ? amount * kBeatsPerBar : amount; }
  double Seconds(double beatPeriod) const { return inBeats || inBars ? Beats() * beatPeriod : amount; }
};

// The defaults of every reaction, from the command line.
struct ReactionTiming {
  double framesPerSecond = 60.0;
  double lead = 0.0;     // seconds
  double attack = 0.0;   // seconds
  double release = 0.25; // seconds
};

struct Reaction {
  uint32_t index = 0;
  float from = 0.0f;
  float to = 1.0f;
  AudioFeature feature = AudioFeature::Level;
  MusicalSpan attack, release, lead;
  bool attackGiven = false, releaseGiven = false, leadGiven = false;
  double curve = 1.0;
  double gain = 1.0;
  double threshold = 0.0;
  MusicalSpan rate{1.0, true, false};  // a shape's period
  double phase = 0.0;                  // a shape's offset, 0..1 of its period
};

// The text of --react. False with one line naming what is wrong.
bool ParseReaction(const std::string& text, const ParameterNames& names, Reaction& reaction, std::string& error);

// The command line's defaults for what the reaction does not say.
void FillDefaults(Reaction& reaction, const ReactionTiming& timing);

// A pulse that falls from 1 at x = 0 to exactly 0 at x = 1, fast at first
// like a struck sound.
double ReactionPulse(double x);

// A shape's raw value, 0..1, `beats` into the music (`seconds`, for a rate
// in seconds). The random step is the same for the same period everywhere,
// live and rendered.
double ShapeAt(const Reaction& reaction, double beats, double seconds);

// A tempo ramp or shape (the phases, the lfo shapes) `beats` into the music
// (`seconds` of the clock, for a shape whose rate is in seconds): what a
// reaction follows from any tempo. Beats and downbeats are events, kept by
// whoever follows them.
double TempoFeature(const Reaction& reaction, double beats, double seconds);

// One reaction's steps 2 to 4, frame after frame: from the raw feature to
// the parameter's value. Rendered and live reactions share it.
class ReactionFollower {
 public:
  explicit ReactionFollower(const Reaction& reaction) : reaction(reaction) {}
  float Next(double raw, double attackSeconds, double releaseSeconds, double frameSeconds);

 private:
  Reaction reaction;
  double envelope = 0.0;
};

class ReactionCurves {
 public:
  // Every reaction's value for output frames 0 to frames - 1.
  ReactionCurves(const AudioAnalysis& analysis, const std::vector<Reaction>& reactions, const ReactionTiming& timing,
                 long frames);

  const std::vector<Reaction>& Reactions() const { return reactions; }
  long Frames() const { return frames; }
  double FramesPerSecond() const { return timing.framesPerSecond; }
  float Value(size_t reaction, long frame) const { return values[reaction][static_cast<size_t>(frame)]; }
  // A feature as a reaction with the defaults sees it at a frame, before
  // gain, threshold, following and curve.
  float Feature(AudioFeature feature, long frame) const;

 private:
  // The feature for one reaction at a time, before following.
  double Raw(const Reaction& reaction, double seconds) const;

  const AudioAnalysis& analysis;
  std::vector<Reaction> reactions;
  ReactionTiming timing;
  long frames;
  std::vector<std::vector<float>> values;
};

}  // namespace tool
