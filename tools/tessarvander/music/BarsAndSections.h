// Where the bars start and the sections change, from a track's beats and
// the colour and harmony of its sound (OnsetCurve.h).
//   - the bars: within each stretch of sound, the beat of the bar where the
//     bass hits hardest and the harmony (the energy per pitch class) changes
//     most, on average, is the first;
//   - the sections: beats where the sound's colour over the bars before
//     differs most from the bars after (a break, a drop), moved to the
//     nearest downbeat, and the return of sound after a silence.
#pragma once

#include <vector>

#include "music/OnsetCurve.h"

namespace tool {

// Each beat's place in its bar, from 0; `stretchOf` tells each beat's
// stretch of sound. A `firstBeat` of 0 or more starts a bar at the beat
// nearest it.
std::vector<int> PlacesInBars(const std::vector<double>& beats, const std::vector<int>& stretchOf,
                              const OnsetCurve& curve, int beatsPerBar, double firstBeat);
std::vector<double> SectionChanges(const std::vector<double>& beats, const std::vector<int>& place,
                                   const std::vector<int>& stretchOf, const OnsetCurve& curve);

}  // namespace tool
