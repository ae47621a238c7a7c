// Reactions live (`play --react`): the same texts as a render, followed
// frame by frame. The tempo features (beat, downbeat, beat-phase, bar-phase
// and the tempo-locked shapes) follow whichever tempo source leads (taps, a
// MIDI clock, Link or the live sound's beats); level, the bands and onsets
// follow the live sound. Nothing can look ahead live, so `lead` is refused,
// and so are the features that need the whole track.
#pragma once

#include <string>
#include <vector>

#include "music/LiveAnalysis.h"
#include "music/Reactions.h"

namespace tool {

class LiveReactions {
 public:
  // False with one line naming the first reaction that cannot run live, or
  // that follows the sound when there is none (`soundIn`).
  static bool Check(const std::vector<Reaction>& reactions, const ReactionTiming& timing, bool soundIn,
                    std::string& error);

  LiveReactions(const std::vector<Reaction>& reactions, const ReactionTiming& timing);
  // What a frame reacts to, at the frame's own time.
  struct Moment {
    double beats = 0.0;           // into the music, from the tempo source
    double beatsPerMinute = 0.0;  // 0: no tempo yet
    double seconds = 0.0;         // of the clock, for a shape whose rate is in seconds
    const LiveAnalysis* sound = nullptr;  // null without live sound
    double soundSeconds = 0.0;    // the frame's time in the sound's own seconds
  };
  // Every reaction's value for a frame, as (parameter, value). Each event
  // (a beat, an onset) peaks once, in the first frame whose span reaches
  // it, even when the frames' times jump past it (the sound arrives in
  // uneven blocks, a late frame catches up), and falls on the frames' own
  // clock from there.
  void Frame(const Moment& moment, std::vector<ParameterValue>& values);

  // The panel's reactions: one a parameter, put in or taken out while playing.
  void Put(const Reaction& reaction);
  void Remove(uint32_t parameter);
  const std::vector<Reaction>& All() const { return reactions; }

 private:
  // The last event an event reaction peaked for, and when.
  struct Peak {
    double event = 0.0;  // a beat's or bar's number, or an onset's time
    bool seen = false;
    double at = 0.0;  // the clock's seconds of the frame it peaked in
  };
  // The pulse for an event reaction this frame: `event` is the latest at or
  // before the frame's end, `within` whether it falls inside the frame's span.
  double Pulse(Peak& peak, double event, bool within, const Moment& moment, double releaseSeconds) const;

  ReactionTiming timing;
  std::vector<Reaction> reactions;
  std::vector<ReactionFollower> followers;
  std::vector<Peak> peaks;
  double frameSeconds;
};

}  // namespace tool
