#include "player/Autopilot.h"

#include <cmath>

#include "formats/CueSheet.h"

namespace tool {

Autopilot::Autopilot(const std::vector<std::string>& looks, uint64_t seed, bool twoDecks)
    : looks(looks), order(looks, seed), twoDecks(twoDecks) {}

void Autopilot::Switch(bool wanted, std::vector<std::string>& said) {
  if (wanted == on) return;
  on = wanted;
  if (on && order.Empty()) {
    on = false;
    said.push_back("autopilot: the bank holds no look to change to (--bank DIR)");
    return;
  }
  handsOffUntil = kNoBar;
  said.push_back(on ? "autopilot on: a new look each phrase and at each new section" : "autopilot off");
}

void Autopilot::HandsOn(std::vector<std::string>& said) {
  if (!on || bar == kNoBar) return;  // without a tempo it changes nothing to wait with
  // Bars count from the next downbeat: the performer has this bar and
  // kHandsOffBars whole bars after it.
  handsOffUntil = bar + kHandsOffBars + 1;
  if (!waitSaid)
    said.push_back("autopilot waits " + std::to_string(kHandsOffBars) + " bars after your change");
  waitSaid = true;
}

long Autopilot::WaitingBars() const {
  return on && bar != kNoBar && handsOffUntil > bar ? handsOffUntil - bar : 0;
}

void Autopilot::Frame(Stage& stage, const Moment& now, std::vector<std::string>& said) {
  if (now.beats < 0.0) return;
  const long heard = static_cast<long>(std::floor(now.beats / kCueBeatsPerBar + 1e-9));
  // A count that steps back by less than a bar is a grid finding its
  // phase again: the bar stands until the count passes it.
  if (bar == kNoBar || heard < bar - 1) {  // a first tempo, or its count began again (a new run of taps)
    bar = phraseStart = heard;
    sections.Reset();
    sum = BarSound();
    frames = 0;
  } else if (heard > bar) {
    Downbeat(stage, heard, now, said);
  }
  if (now.heard) {
    sum.level += now.sound.level, sum.bass += now.sound.bass, sum.mid += now.sound.mid,
        sum.treble += now.sound.treble;
    ++frames;
  }
}

void Autopilot::Downbeat(Stage& stage, long heard, const Moment& now, std::vector<std::string>& said) {
  // The bar just heard, whole, tells whether a section began with it.
  bool section = false;
  if (frames > 0) {
    const float n = static_cast<float>(frames);
    section = sections.BarEnded({sum.level / n, sum.bass / n, sum.mid / n, sum.treble / n});
  }
  const long sectionStart = bar;
  bar = heard;
  sum = BarSound();
  frames = 0;
  if (section) phraseStart = sectionStart;  // phrases count from the music's own
  if (!on) return;
  if (bar < handsOffUntil) return;
  if (waitSaid) said.push_back("autopilot flies the show again");
  waitSaid = false;

  const int phrase = PhraseBars(now.secondsPerBeat * kCueBeatsPerBar, rules);
  const long sinceChange = bar - lastChange;
  if (section && sinceChange > 1) {
    Change(stage, TransitionAcross(sections.LevelRatio(), rules), now, "a new section", said);
  } else if ((bar - phraseStart) % phrase == 0 && sinceChange >= rules.barsBeforeSection) {
    Change(stage, {2.0, CueLength::Unit::Beats}, now, "a new phrase", said);
  }
}

void Autopilot::Change(Stage& stage, CueLength length, const Moment& now, const std::string& why,
                       std::vector<std::string>& said) {
  const size_t slot = order.Next();
  const long transitionFrames = std::lround(length.Seconds(now.secondsPerBeat) * now.framesPerSecond);
  std::string problem;
  if (!stage.Recall(slot, twoDecks ? Transition::Dissolve : Transition::Morph, transitionFrames, problem)) {
    said.push_back("autopilot: " + problem);
    return;
  }
  lastChange = bar;
  said.push_back("autopilot: " + why + ", preset " + std::to_string(slot + 1) + ": " + looks[slot] +
                 (transitionFrames == 0 ? " (a cut)" : ""));
}

}  // namespace tool
