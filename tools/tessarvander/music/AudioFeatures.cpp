#include "music/AudioFeatures.h"

namespace cli {
namespace {

struct FeatureName {
  AudioFeature feature;
  const char* name;
};
constexpr FeatureName kFeatureNames[] = {
    {AudioFeature::Level, "level"},         {AudioFeature::Bass, "bass"},
    {AudioFeature::Mid, "mid"},             {AudioFeature::Treble, "treble"},
    {AudioFeature::BeatPhase, "beat-phase"}, {AudioFeature::BarPhase, "bar-phase"},
    {AudioFeature::Onset, "onset"},         {AudioFeature::Beat, "beat"},
    {AudioFeature::Downbeat, "downbeat"},   {AudioFeature::HalfBeat, "half-beat"},
    {AudioFeature::DoubleBeat, "double-beat"}, {AudioFeature::Offbeat, "offbeat"},
    {AudioFeature::Section, "section"}};
static_assert(sizeof kFeatureNames / sizeof kFeatureNames[0] == sizeof kAudioFeatures / sizeof kAudioFeatures[0],
              "every feature has a name");

}  // namespace

bool ParseAudioFeature(const std::string& name, AudioFeature& feature) {
  for (const FeatureName& entry : kFeatureNames) {
    if (name == entry.name) {
      feature = entry.feature;
      return true;
    }
  }
  return false;
}

const char* AudioFeatureName(AudioFeature feature) {
  for (const FeatureName& entry : kFeatureNames)
    if (entry.feature == feature) return entry.name;
  return "";
}

std::string AudioFeatureList() {
  std::string list;
  const size_t count = sizeof kFeatureNames / sizeof kFeatureNames[0];
  for (size_t i = 0; i < count; ++i)
    list += std::string(i == 0 ? "" : i + 1 == count ? " and " : ", ") + kFeatureNames[i].name;
  return list;
}

bool IsEvent(AudioFeature feature) { return feature >= AudioFeature::Onset; }
bool IsRamp(AudioFeature feature) { return feature == AudioFeature::BeatPhase || feature == AudioFeature::BarPhase; }

}  // namespace cli
