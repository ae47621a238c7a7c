#include "player/Direction.h"

#include <cmath>

namespace tool {
namespace {

std::vector<std::string> LookNames(const PresetBank& bank) {
  std::vector<std::string> names(bank.Size());
  for (size_t slot = 0; slot < bank.Size(); ++slot)
    if (!bank.Empty(slot)) names[slot] = bank.Name(slot);
  return names;
}

}  // namespace

Direction::Direction(const PlayerOptions& options, bool twoDecks)
    : sheet(options.cues),
      autopilot(LookNames(options.bank), options.autopilotSeed, twoDecks),
      framesPerSecond(options.framesPerSecond) {
  std::string checkedBefore;
  if (!sheet.cues.empty()) cues.Load(sheet, options.bank, options.cuesPath, checkedBefore);
}

void Direction::Frame(Stage& stage, const TempoReading& tempo, const float* sound, double sinceStart,
                      std::vector<std::string>& said) {
  Autopilot::Moment pilot;
  pilot.framesPerSecond = framesPerSecond;
  if (tempo.Known()) {
    pilot.beats = tempo.beats;
    pilot.secondsPerBeat = 60.0 / tempo.beatsPerMinute;
  }
  pilot.heard = sound != nullptr;
  if (pilot.heard) pilot.sound = {sound[0], sound[1], sound[2], sound[3]};
  autopilot.Frame(stage, pilot, said);

  if (!cues.Loaded()) return;
  CuePlayer::Moment place;
  place.seconds = sinceStart;
  place.framesPerSecond = framesPerSecond;
  if (tempo.Known()) {
    // The source's count began again: so does the sheet.
    if (origin >= 0.0 && tempo.beats < lastBeats - 0.5) {
      origin = -1.0;
      cues.Rewind();
      said.push_back("cues: the tempo's count began again, and the sheet with it");
    }
    // Bar 1 is the source's first bar while it is in it (its count began
    // with the show: the first tap, a MIDI Start), else its next downbeat.
    if (origin < 0.0)
      origin = tempo.beats < kCueBeatsPerBar ? 0.0 : std::ceil(tempo.beats / kCueBeatsPerBar - 1e-6) * kCueBeatsPerBar;
    lastBeats = tempo.beats;
    place.beats = tempo.beats >= origin ? tempo.beats - origin : -1.0;
    place.secondsPerBeat = 60.0 / tempo.beatsPerMinute;
  }
  cues.Frame(stage, place, said);
}

}  // namespace tool
