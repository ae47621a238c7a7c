// The autopilot: the show's looks changed by the music while nobody
// touches anything, as the director cuts a song, from what has been heard
// so far. On the tempo source's grid (any source: taps, a MIDI clock, Link,
// the live sound) it changes look on a downbeat at the start of each phrase
// (16 bars, or 8 when 16 would hold a look longer than 45 s), counted from
// the grid's first downbeat or the last section change; and, with live
// sound, at the downbeat after the first bar of a new section
// (music/LiveSections.h), by the director's transitions: a cut into music
// much louder than the bars before, a dissolve over a bar into a much
// quieter passage, over two beats otherwise. A performer's recall or slider
// hands the show back for a while: the autopilot waits kHandsOffBars bars
// after the last such change. What it does goes through the stage, so a
// take holds it like any recall.
#pragma once

#include <string>
#include <vector>

#include "music/Director.h"
#include "music/LiveSections.h"
#include "player/Stage.h"

namespace tool {

class Autopilot {
 public:
  static constexpr long kHandsOffBars = 8;

  // `twoDecks`: whether the player dissolves between two instances; with
  // one, looks morph in over the same length.
  Autopilot(const std::vector<std::string>& looks, uint64_t seed, bool twoDecks);

  // The music's place and sound at a frame: beats since a downbeat of the
  // tempo source's grid (below 0 without a tempo), and the sound now, in
  // dB, when there is live sound.
  struct Moment {
    double beats = -1.0;
    double secondsPerBeat = 0.5;
    double framesPerSecond = 60.0;
    bool heard = false;
    BarSound sound;
  };

  void Switch(bool on, std::vector<std::string>& said);
  bool On() const { return on; }
  // A performer changed the look or a value: the autopilot waits.
  void HandsOn(std::vector<std::string>& said);
  // Bars it still waits after a performer's change; 0 while it flies.
  long WaitingBars() const;
  // Once a frame, before the stage steps.
  void Frame(Stage& stage, const Moment& now, std::vector<std::string>& said);

 private:
  void Downbeat(Stage& stage, long bar, const Moment& now, std::vector<std::string>& said);
  void Change(Stage& stage, CueLength length, const Moment& now, const std::string& why,
              std::vector<std::string>& said);

  const std::vector<std::string> looks;
  LookOrder order;
  const bool twoDecks;
  DirectorOptions rules;
  LiveSections sections;
  bool on = false;
  static constexpr long kNoBar = -1000000;
  long bar = kNoBar;         // the bar now, from the grid's first downbeat
  long phraseStart = 0;      // the bar phrases are counted from
  long lastChange = kNoBar;
  long handsOffUntil = kNoBar;  // the first bar it may change look again
  bool waitSaid = false;
  // The bar being heard: its sound summed frame by frame.
  BarSound sum;
  long frames = 0;
};

}  // namespace tool
