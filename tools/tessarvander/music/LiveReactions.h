// Reactions to the music as it is heard (`play --audio-in`): the same
// --react texts as a render, followed frame by frame from LiveAnalysis.
// Nothing can look ahead live, so `lead` is refused, and so are the features
// that need the whole track.
#pragma once

#include <string>
#include <vector>

#include "music/LiveAnalysis.h"
#include "music/Reactions.h"

namespace tool {

class LiveReactions {
 public:
  // False with one line naming the first reaction that cannot run live.
  static bool Check(const std::vector<Reaction>& reactions, const ReactionTiming& timing, std::string& error);

  LiveReactions(const std::vector<Reaction>& reactions, const ReactionTiming& timing);
  // Every reaction's value for this frame, as (parameter, value).
  void Frame(const LiveAnalysis& analysis, std::vector<ParameterValue>& values);

 private:
  std::vector<Reaction> reactions;
  std::vector<ReactionFollower> followers;
  double frameSeconds;
};

}  // namespace tool
