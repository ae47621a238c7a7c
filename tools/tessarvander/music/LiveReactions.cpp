#include "music/LiveReactions.h"

#include <algorithm>
#include <cmath>

namespace tool {

bool LiveReactions::Check(const std::vector<Reaction>& reactions, const ReactionTiming& timing, bool soundIn,
                          std::string& error) {
  for (const Reaction& reaction : reactions) {
    if (!LiveAnalysis::Live(reaction.feature)) {
      error = std::string("--react: ") + AudioFeatureName(reaction.feature) +
              " needs the whole track; live, follow level, bass, mid, treble, onset, beat, downbeat, beat-phase, "
              "bar-phase or a shape (lfo-sine, ...)";
      return false;
    }
    if (FollowsSound(reaction.feature) && !soundIn) {
      error = std::string("--react: ") + AudioFeatureName(reaction.feature) +
              " follows the live sound: give --audio-in too (beat, downbeat, the phases and the shapes follow any "
              "tempo)";
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
    : timing(timing), frameSeconds(1.0 / timing.framesPerSecond) {
  for (const Reaction& reaction : given) Put(reaction);
}

void LiveReactions::Put(const Reaction& given) {
  Remove(given.index);
  Reaction reaction = given;
  FillDefaults(reaction, timing);
  reactions.push_back(reaction);
  followers.emplace_back(reaction);
}

void LiveReactions::Remove(uint32_t parameter) {
  for (size_t r = 0; r < reactions.size(); ++r) {
    if (reactions[r].index != parameter) continue;
    reactions.erase(reactions.begin() + static_cast<long>(r));
    followers.erase(followers.begin() + static_cast<long>(r));
    return;
  }
}

void LiveReactions::Frame(const Moment& moment, std::vector<ParameterValue>& values) {
  values.clear();
  const double period = moment.beatsPerMinute > 0.0 ? 60.0 / moment.beatsPerMinute : 0.5;
  for (size_t r = 0; r < reactions.size(); ++r) {
    const Reaction& reaction = reactions[r];
    double raw = 0.0;
    if (!FollowsSound(reaction.feature)) {
      raw = TempoFeature(reaction, moment.beats, moment.beatsPerMinute, moment.seconds, frameSeconds);
    } else if (moment.sound && IsEvent(reaction.feature)) {
      const double event = moment.sound->LastEventAt(reaction.feature, moment.soundSeconds + frameSeconds);
      const double release = std::max(1e-6, reaction.release.Seconds(period));
      raw = event < 0.0 ? 0.0 : ReactionPulse(std::max(0.0, moment.soundSeconds - event) / release);
    } else if (moment.sound) {
      raw = moment.sound->ContinuousAt(reaction.feature, moment.soundSeconds);
    }
    values.push_back({reaction.index, followers[r].Next(raw, reaction.attack.Seconds(period),
                                                        reaction.release.Seconds(period), frameSeconds)});
  }
}

}  // namespace tool
