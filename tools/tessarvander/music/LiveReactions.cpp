#include "music/LiveReactions.h"

#include <algorithm>
#include <cmath>

namespace tool {

bool LiveReactions::Check(const std::vector<Reaction>& reactions, const ReactionTiming& timing, std::string& error) {
  for (const Reaction& reaction : reactions) {
    if (!LiveAnalysis::Live(reaction.feature)) {
      error = std::string("--react: ") + AudioFeatureName(reaction.feature) +
              " needs the whole track; live, follow level, bass, mid, treble, onset, beat, downbeat, beat-phase "
              "or bar-phase";
      return false;
    }
    if ((reaction.leadGiven ? reaction.lead.amount : timing.lead) != 0.0) {
      error = "--react: live, nothing can lead the music (lead must be 0)";
      return false;
    }
  }
  return true;
}

LiveReactions::LiveReactions(const std::vector<Reaction>& given, const ReactionTiming& timing)
    : reactions(given), frameSeconds(1.0 / timing.framesPerSecond) {
  for (Reaction& reaction : reactions) {
    FillDefaults(reaction, timing);
    followers.emplace_back(reaction);
  }
}

void LiveReactions::Frame(const LiveAnalysis& analysis, std::vector<ParameterValue>& values) {
  values.clear();
  const double now = analysis.Seconds();
  const double period = analysis.BeatsPerMinute() > 0.0 ? 60.0 / analysis.BeatsPerMinute() : 0.5;
  const double beats = analysis.Beats();
  for (size_t r = 0; r < reactions.size(); ++r) {
    const Reaction& reaction = reactions[r];
    double raw = 0.0;
    if (reaction.feature == AudioFeature::BeatPhase) {
      raw = beats - std::floor(beats);
    } else if (reaction.feature == AudioFeature::BarPhase) {
      raw = std::fmod(beats, LiveAnalysis::kBeatsPerBar) / LiveAnalysis::kBeatsPerBar;
    } else if (IsEvent(reaction.feature)) {
      const double event = analysis.LastEvent(reaction.feature);
      const double release = std::max(1e-6, reaction.release.Seconds(period));
      raw = event < 0.0 ? 0.0 : ReactionPulse((now - event) / release);
    } else {
      raw = analysis.Continuous(reaction.feature);
    }
    values.push_back({reaction.index, followers[r].Next(raw, reaction.attack.Seconds(period),
                                                        reaction.release.Seconds(period), frameSeconds)});
  }
}

}  // namespace tool
