// The features of a track that a reaction can follow, by name.
#pragma once

#include <string>

namespace cli {

// What a reaction can follow. Level and the bands are continuous, 0..1 in dB
// between quiet and loud moments of the track; the phases ramp 0 -> 1; the
// rest are events, each a pulse.
enum class AudioFeature {
  Level, Bass, Mid, Treble,               // continuous
  BeatPhase, BarPhase,                    // ramps
  Onset, Beat, Downbeat, HalfBeat, DoubleBeat, Offbeat, Section  // events
};
constexpr AudioFeature kAudioFeatures[] = {
    AudioFeature::Level,    AudioFeature::Bass,     AudioFeature::Mid,        AudioFeature::Treble,
    AudioFeature::BeatPhase, AudioFeature::BarPhase, AudioFeature::Onset,     AudioFeature::Beat,
    AudioFeature::Downbeat, AudioFeature::HalfBeat, AudioFeature::DoubleBeat, AudioFeature::Offbeat,
    AudioFeature::Section};
// "level", "bass", ..., "beat-phase", "half-beat", ...; false for anything else.
bool ParseAudioFeature(const std::string& name, AudioFeature& feature);
const char* AudioFeatureName(AudioFeature feature);
// "level, bass, ... and section", for messages.
std::string AudioFeatureList();
bool IsEvent(AudioFeature feature);
bool IsRamp(AudioFeature feature);

}  // namespace cli
