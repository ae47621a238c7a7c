// The automatic director: a cue sheet for a song from its analysis, as a
// video maker would cut it. A new look at bar 1, at each section change and
// otherwise at the start of each phrase (16 bars, or 8 when 16 would hold a
// look longer than 45 s), never within 4 bars before a section change;
// every change on a downbeat. The transition follows the music across the
// change: a cut where it gets much louder (a drop), a dissolve over a bar
// where it gets much quieter, a dissolve over two beats otherwise. The
// looks come in a shuffled order that uses every look before one comes
// back and never shows one twice in a row; the same seed gives the same
// sheet. `render --direct` renders it, `tessarvander direct` writes it for
// editing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/CueSheet.h"
#include "music/AudioAnalysis.h"

namespace tool {

struct DirectorOptions {
  uint64_t seed = 1;
  int phraseBars = 16;
  double longestLookSeconds = 45.0;
  // Changes this close before a section change wait for it.
  int barsBeforeSection = 4;
  // The loudness across a change (the bar after over the bar before) that
  // makes it a cut, or a long dissolve.
  double drop = 1.4, fall = 0.7;
};

// `looks`: the bank's looks by name, in slot order (empty names are empty
// slots). An empty sheet when the song has no bars or the bank no look.
CueSheet Direct(const AudioAnalysis& analysis, const std::vector<std::string>& looks, const DirectorOptions& options);

}  // namespace tool
