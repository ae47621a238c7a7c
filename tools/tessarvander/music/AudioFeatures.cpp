#include "music/AudioFeatures.h"

#include "sys/NameTable.h"

namespace tool {
namespace {

constexpr Named<AudioFeature> kFeatureNames[] = {
    {AudioFeature::Level, "level"},         {AudioFeature::Bass, "bass"},
    {AudioFeature::Mid, "mid"},             {AudioFeature::Treble, "treble"},
    {AudioFeature::BeatPhase, "beat-phase"}, {AudioFeature::BarPhase, "bar-phase"},
    {AudioFeature::LfoSine, "lfo-sine"},     {AudioFeature::LfoTriangle, "lfo-triangle"},
    {AudioFeature::LfoSaw, "lfo-saw"},       {AudioFeature::LfoSquare, "lfo-square"},
    {AudioFeature::LfoRandom, "lfo-random"},
    {AudioFeature::Onset, "onset"},         {AudioFeature::Beat, "beat"},
    {AudioFeature::Downbeat, "downbeat"},   {AudioFeature::HalfBeat, "half-beat"},
    {AudioFeature::DoubleBeat, "double-beat"}, {AudioFeature::Offbeat, "offbeat"},
    {AudioFeature::Section, "section"}};
static_assert(sizeof kFeatureNames / sizeof kFeatureNames[0] == sizeof kAudioFeatures / sizeof kAudioFeatures[0],
              "every feature has a name");

}  // namespace

bool ParseAudioFeature(const std::string& name, AudioFeature& feature) { return ValueNamed(kFeatureNames, name, feature); }

const char* AudioFeatureName(AudioFeature feature) { return NameOf(kFeatureNames, feature, ""); }

std::string AudioFeatureList() {
  std::string list;
  const size_t count = sizeof kFeatureNames / sizeof kFeatureNames[0];
  for (size_t i = 0; i < count; ++i)
    list += std::string(i == 0 ? "" : i + 1 == count ? " and " : ", ") + kFeatureNames[i].name;
  return list;
}

bool IsEvent(AudioFeature feature) { return feature >= AudioFeature::Onset; }
bool IsRamp(AudioFeature feature) { return feature == AudioFeature::BeatPhase || feature == AudioFeature::BarPhase; }
bool IsShape(AudioFeature feature) { return feature >= AudioFeature::LfoSine && feature <= AudioFeature::LfoRandom; }
bool FollowsSound(AudioFeature feature) { return feature <= AudioFeature::Treble || feature == AudioFeature::Onset; }

}  // namespace tool
