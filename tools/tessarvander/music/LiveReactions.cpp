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
  peaks.emplace_back();
}

void LiveReactions::Remove(uint32_t parameter) {
  for (size_t r = 0; r < reactions.size(); ++r) {
    if (reactions[r].index != parameter) continue;
    reactions.erase(reactions.begin() + static_cast<long>(r));
    followers.erase(followers.begin() + static_cast<long>(r));
    peaks.erase(peaks.begin() + static_cast<long>(r));
    return;
  }
}

double LiveReactions::Pulse(Peak& peak, double event, bool within, const Moment& moment,
                            double releaseSeconds) const {
  // A numbering that starts again (a new grid) is a new run of events.
  if (peak.seen && event < peak.event - 1.0) peak.seen = false;
  if (!peak.seen) {
    // The first event seen counts only when it falls in this frame.
    peak = {event, true, within ? moment.seconds : -1e9};
  } else if (event > peak.event) {
    peak.event = event;
    peak.at = moment.seconds;
  }
  return ReactionPulse(std::max(0.0, moment.seconds - peak.at) / std::max(1e-6, releaseSeconds));
}

void LiveReactions::Frame(const Moment& moment, std::vector<ParameterValue>& values) {
  values.clear();
  const double period = moment.beatsPerMinute > 0.0 ? 60.0 / moment.beatsPerMinute : 0.5;
  for (size_t r = 0; r < reactions.size(); ++r) {
    const Reaction& reaction = reactions[r];
    const double release = reaction.release.Seconds(period);
    double raw = 0.0;
    if (reaction.feature == AudioFeature::Beat || reaction.feature == AudioFeature::Downbeat) {
      if (moment.beatsPerMinute <= 0.0) {
        peaks[r].seen = false;
      } else {
        // Beats (or bars) counted at the frame's end; the last one passed is
        // the event.
        const double length = reaction.feature == AudioFeature::Beat ? 1.0 : MusicalSpan::kBeatsPerBar;
        const double end = (moment.beats + frameSeconds / period) / length;
        const double event = std::floor(end);
        raw = Pulse(peaks[r], event, event >= moment.beats / length, moment, release);
      }
    } else if (!FollowsSound(reaction.feature)) {
      if (moment.beatsPerMinute > 0.0 || IsShape(reaction.feature)) raw = TempoFeature(reaction, moment.beats, moment.seconds);
    } else if (moment.sound && IsEvent(reaction.feature)) {
      const double event = moment.sound->LastEventAt(reaction.feature, moment.soundSeconds + frameSeconds);
      if (event >= 0.0) raw = Pulse(peaks[r], event, event >= moment.soundSeconds, moment, release);
    } else if (moment.sound) {
      raw = moment.sound->ContinuousAt(reaction.feature, moment.soundSeconds);
    }
    values.push_back({reaction.index, followers[r].Next(raw, reaction.attack.Seconds(period), release, frameSeconds)});
  }
}

}  // namespace tool
