#include "app/RenderMusic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "formats/BeatList.h"
#include "sys/Digest.h"

namespace tool {

bool RenderMusic::Prepare(const std::vector<std::pair<std::string, std::string>>& controls,
                          const ParameterNames& names, std::string& error, bool& usage) {
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
  if (!settings.reportWindow.empty() && !ParseReportWindow(settings.reportWindow, window, error)) return false;
  analysis.beatOptions = settings.beats;
  analysis.beatOptions.scale = settings.beatScale == "half"     ? BeatScale::Half
                               : settings.beatScale == "double" ? BeatScale::Double
                                                                : BeatScale::AsTracked;
  if (!settings.beatsPath.empty()) {
    if (!LoadBeatList(settings.beatsPath, analysis.beatOptions.beats, error)) return false;
    analysis.beatOptions.beatsGiven = true;
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
  timeline.AddLayer([reacting](long frame, std::vector<ParameterValue>& values) {
    for (size_t r = 0; r < reacting->Reactions().size(); ++r)
      PutValue(values, reacting->Reactions()[r].index, reacting->Value(r, frame));
  });
}

bool RenderMusic::WriteReport(const ParameterNames& names, const std::vector<double>& cues, std::string& error) const {
  return WriteReactionReport(settings.reportPath, *curves, analysis, names, window, cues, error);
}

void RenderMusic::BeatAt(long outputFrame, double framesPerSecond, float& beatsPerMinute, float& barPhase) const {
  const double seconds = static_cast<double>(outputFrame) / framesPerSecond;
  beatsPerMinute = static_cast<float>(analysis.Grid().BeatsPerMinuteAt(seconds));
  barPhase = analysis.Grid().BarPhase(seconds);
}

std::string RenderMusic::Describe() const {
  const BeatGrid& grid = analysis.Grid();
  double slowest = 0.0, fastest = 0.0;
  grid.TempoRange(slowest, fastest);
  char tempo[96];
  if (fastest > slowest * 1.02)
    std::snprintf(tempo, sizeof tempo, "%.2f beats a minute (%.1f to %.1f)", grid.BeatsPerMinute(), slowest, fastest);
  else
    std::snprintf(tempo, sizeof tempo, "%.2f beats a minute", grid.BeatsPerMinute());
  char text[512];
  std::snprintf(text, sizeof text, "%s: %.1f s, %s, %zu beats in %zu bars of %d, %zu onsets, %zu section change%s",
                track.path.c_str(), track.Seconds(), tempo, grid.Beats().size(), grid.Downbeats().size(),
                grid.BeatsPerBar(), analysis.Onsets().size(), grid.Sections().size(),
                grid.Sections().size() == 1 ? "" : "s");
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
  decisive["beatsPerBar"] = settings.beats.beatsPerBar;
  decisive["bpm"] = settings.beats.beatsPerMinute;
  decisive["firstBeat"] = settings.beats.firstBeat;
  decisive["beatScale"] = settings.beatScale;
  decisive["beats"] = settings.beatsPath.empty() ? "" : FileSha256(settings.beatsPath);
  return decisive;
}

}  // namespace tool
