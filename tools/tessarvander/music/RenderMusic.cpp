#include "music/RenderMusic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sys/Digest.h"

namespace cli {

bool RenderMusic::Prepare(const std::vector<std::pair<std::string, std::string>>& controls,
                          const ParameterControls& names, std::string& error, bool& usage) {
  usage = true;
  // The command line's order decides: a --set or --ramp after a --react of
  // the same parameter replaces it, and the other way round.
  for (const auto& [kind, text] : controls) {
    Reaction reaction;
    std::string unknown;
    if (kind == "react" && !ParseReaction(text, names, reaction, error)) return false;
    if (kind != "react" && !names.Resolve(text.substr(0, text.rfind('=')), reaction.index, unknown)) continue;
    reactions.erase(std::remove_if(reactions.begin(), reactions.end(),
                                   [&](const Reaction& earlier) { return earlier.index == reaction.index; }),
                    reactions.end());
    if (kind == "react") reactions.push_back(reaction);
  }
  const bool wantsMusic = !reactions.empty() || !settings.reportPath.empty();
  if (!Active()) {
    if (wantsMusic) error = "--react and --react-report need a track: --audio FILE";
    return !wantsMusic;
  }
  if (!settings.reportPath.empty() && (settings.reportPath.size() < 4 || settings.reportPath.substr(settings.reportPath.size() - 4) != ".png")) {
    error = "--react-report: name a .png file";
    return false;
  }
  if (!AnalyseAudioFile(settings.audioPath, track, analysis, error)) {
    usage = error.find("not installed") == std::string::npos && error.find("aubio") == std::string::npos;
    return false;
  }
  usage = false;
  return true;
}

void RenderMusic::Attach(RenderTimeline& timeline, double framesPerSecond, long outputFrames) {
  if (!Active()) return;
  settings.timing.framesPerSecond = framesPerSecond;
  curves = std::make_unique<ReactionCurves>(analysis, reactions, settings.timing, outputFrames);
  const ReactionCurves* reacting = curves.get();
  timeline.AddLayer([reacting](long frame, std::vector<ParameterControls::Value>& values) {
    for (size_t r = 0; r < reacting->Reactions().size(); ++r)
      PutValue(values, reacting->Reactions()[r].index, reacting->Value(r, frame));
  });
}

bool RenderMusic::WriteReport(const ParameterControls& names, std::string& error) const {
  return curves->WriteReport(settings.reportPath, names, error);
}

void RenderMusic::BeatAt(long outputFrame, double framesPerSecond, float& beatsPerMinute, float& barPhase) const {
  const double seconds = static_cast<double>(outputFrame) / framesPerSecond;
  beatsPerMinute = static_cast<float>(analysis.BeatsPerMinute());
  barPhase = analysis.BarPhase(seconds);
}

std::string RenderMusic::Describe() const {
  char text[256];
  std::snprintf(text, sizeof text, "%s: %.1f s, %.1f beats a minute, %zu beats, %zu onsets", track.path.c_str(),
                track.Seconds(), analysis.BeatsPerMinute(), analysis.Beats().size(), analysis.Onsets().size());
  return text;
}

const std::string& RenderMusic::TrackPath() const { return track.path; }

nlohmann::ordered_json RenderMusic::Settings() const {
  if (!Active()) return nullptr;
  nlohmann::ordered_json decisive;
  // Machines may keep the track at different paths: it is known by its bytes.
  decisive["audioSha256"] = FileSha256(track.path);
  decisive["lead"] = settings.timing.lead;
  decisive["attack"] = settings.timing.attack;
  decisive["release"] = settings.timing.release;
  return decisive;
}

}  // namespace cli
