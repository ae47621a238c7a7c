// What `render --cues FILE` and `render --direct` add to a render: the cue
// sheet (read, or written by the director from the song's analysis and
// saved beside the video for editing), played by the stage frame by frame
// on the song's beat grid into the take the render then draws
// (CompileCues).
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "app/CommandSupport.h"
#include "app/RenderMusic.h"
#include "formats/CueSheet.h"
#include "formats/ParameterProfile.h"
#include "formats/Takes.h"
#include "player/PresetBank.h"

namespace tool {

struct CueSettings {
  std::string cuesPath;
  std::string bankFolder;  // empty: the looks shipped with the program
  bool direct = false;
  uint64_t seed = 1;
};
void DeclareCueOptions(CLI::App& command, CueSettings& settings);

// The bank a cue sheet names its looks in: --bank's, or the shipped looks.
// False with one line.
bool LoadCueBank(const std::string& folder, const ParameterNames& names, PresetBank& bank, std::string& error);

class RenderCues {
 public:
  CueSettings settings;
  bool Active() const { return !settings.cuesPath.empty() || settings.direct; }

  // After the music is prepared: the sheet read or directed (and, directed,
  // saved beside `output`), made into `take` for `frames` frames. False
  // with one line; `usage` tells a bad command line or sheet.
  bool Prepare(const RenderMusic& music, const CommandContext& context, double framesPerSecond, long frames,
               const std::string& output, bool quiet, Take& take, std::string& error, bool& usage);
  const CueSheet& Sheet() const { return sheet; }
  // When the cues fired, in seconds of the song.
  const std::vector<double>& FiredAt() const { return firedAt; }

 private:
  CueSheet sheet;
  PresetBank bank;
  std::vector<double> firedAt;
};

}  // namespace tool
