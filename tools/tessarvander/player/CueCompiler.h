// A cue sheet made into a take, for `render --cues`: the player's own stage
// stepped frame by frame on the song's beat grid, a CuePlayer firing the
// cues, and every change of its two decks, crossfader and blackout written
// as the take's lines. The render then draws that take as it draws any,
// with the stage's two decks and mixer: a cue's dissolve is the one the
// stage makes live.
#pragma once

#include <string>
#include <vector>

#include "formats/CueSheet.h"
#include "formats/ParameterProfile.h"
#include "music/BeatGrid.h"
#include "player/PresetBank.h"

namespace tool {

struct CueRender {
  const CueSheet* sheet = nullptr;
  std::string where;             // the sheet, for messages
  const PresetBank* bank = nullptr;
  const BeatGrid* grid = nullptr;
  double framesPerSecond = 60.0;
  long frames = 0;               // the render's frames
  double blackoutSeconds = 1.0;
};

// The take's text; what the cues did, a line each, in `said`, and when, in
// `firedAt` (seconds). False with one line: a look not in the bank, a cue
// past the song's end.
bool CompileCues(const CueRender& render, const ParameterControls& controls, const ParameterProfile& profile,
                 std::string& takeText, std::vector<std::string>& said, std::vector<double>& firedAt,
                 std::string& error);

}  // namespace tool
