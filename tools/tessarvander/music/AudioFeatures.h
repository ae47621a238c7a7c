// The features of a track that a reaction can follow, by name.
#pragma once

#include <string>

namespace tool {

// What bass, mid and treble are, in Hz: bass below 250, mid to 2000, treble
// to 16000; for a whole track and for live sound alike.
constexpr double kBassTopHz = 250.0;
constexpr double kMidTopHz = 2000.0;
constexpr double kTrebleTopHz = 16000.0;
// Spectral magnitudes (1 for a full-scale sine) are compressed as
// log(1 + 1000 m) before their rise is taken, so a soft attack counts as
// much as a loud one.
constexpr double kMagnitudeCompression = 1000.0;

// What a reaction can follow. Level and the bands are continuous, 0..1 in dB
// between quiet and loud moments of the track; the phases ramp 0 -> 1; the
// shapes are tempo-locked waves, 0..1 over each period of their rate; the
// rest are events, each a pulse.
enum class AudioFeature {
  Level, Bass, Mid, Treble,               // continuous
  BeatPhase, BarPhase,                    // ramps
  LfoSine, LfoTriangle, LfoSaw, LfoSquare, LfoRandom,  // shapes
  Onset, Beat, Downbeat, HalfBeat, DoubleBeat, Offbeat, Section  // events
};
constexpr AudioFeature kAudioFeatures[] = {
    AudioFeature::Level,     AudioFeature::Bass,        AudioFeature::Mid,       AudioFeature::Treble,
    AudioFeature::BeatPhase, AudioFeature::BarPhase,    AudioFeature::LfoSine,   AudioFeature::LfoTriangle,
    AudioFeature::LfoSaw,    AudioFeature::LfoSquare,   AudioFeature::LfoRandom, AudioFeature::Onset,
    AudioFeature::Beat,      AudioFeature::Downbeat,    AudioFeature::HalfBeat,  AudioFeature::DoubleBeat,
    AudioFeature::Offbeat,   AudioFeature::Section};
// "level", "bass", ..., "beat-phase", "half-beat", ...; false for anything else.
bool ParseAudioFeature(const std::string& name, AudioFeature& feature);
const char* AudioFeatureName(AudioFeature feature);
// "level, bass, ... and section", for messages.
std::string AudioFeatureList();
bool IsEvent(AudioFeature feature);
bool IsRamp(AudioFeature feature);
// A tempo-locked shape (lfo-sine ... lfo-random).
bool IsShape(AudioFeature feature);
// Heard in the sound itself (level, the bands, onsets), not in the tempo.
bool FollowsSound(AudioFeature feature);

}  // namespace tool
