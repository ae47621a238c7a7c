// The beat's phase against its off-beat. A chain of beats that follows the
// strongest onsets can settle on the off-beat when the off-beat is loud: the
// chord of an oom-pah, a pushed guitar, a hi-hat figure. What marks the
// beat itself, in nearly all the music a player meets, is where the bass
// strikes and where the harmony changes (Goto 2001 reads the kick and snare
// for the same reason; Klapuri, Eronen and Astola 2006 weigh the bass's
// onsets for the beat's phase). Over each passage the chain holds one phase
// in, both are weighed at the beats and at the points halfway between;
// where the halfway points hold clearly more, the passage's beats move
// there. Beats on a shuffle's swung note move to the beat after it. A whole
// passage is weighed, never a few beats: a trance breakdown's bass on the
// off-beat for eight bars does not move the beat the kick held before it.
#pragma once

#include <vector>

#include "music/OnsetCurve.h"

namespace tool {

// The first beats of each stretch of sound, before the chain settles into a
// passage of four bars, replaced by that passage's grid carried back: a
// chain enters where the first onsets happen to be (an intro's off-beat
// stab) and slides to the beat once the drums come in. `stretchOf` and
// `periodOf` (each beat's stretch and tempo period) follow the beats.
void FromWhereTheChainSettles(std::vector<double>& beats, std::vector<int>& stretchOf, std::vector<double>& periodOf);

// `stretchOf`: each beat's stretch of sound, `periodOf` the tempo's period
// there (seconds); a passage never spans two stretches or a change of tempo.
std::vector<double> OnTheBeat(const std::vector<double>& beats, const std::vector<int>& stretchOf,
                              const std::vector<double>& periodOf, const OnsetCurve& curve);

}  // namespace tool
