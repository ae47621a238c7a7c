#include "RenderMusic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Segments.h"

namespace cli {

void RenderMusic::Declare(CLI::App& command, SessionFlags& flags) {
  command.add_option("--audio", audioPath,
                     "a music track (anything ffmpeg decodes): the render's length by default, muxed into the "
                     "video, its tempo told to the plugin, and what --react follows")
      ->type_name("FILE");
  flags.DeclareControl(command, "react", "--react",
                       "move a parameter by the music: FEATURE is level, bass, mid, treble, onset or beat; "
                       "repeatable")
      ->type_name("NAME=FROM:TO:FEATURE");
  command.add_option("--lead", timing.lead, "react to the music this many seconds ahead")
      ->check(Within(-10, 10))
      ->type_name("SECONDS")
      ->capture_default_str();
  command.add_option("--attack", timing.attack, "how long a reaction takes to rise")
      ->check(Within(0, 10))
      ->type_name("SECONDS")
      ->capture_default_str();
  command.add_option("--release", timing.release, "how long a reaction, or an onset or beat pulse, takes to fall")
      ->check(Within(0.001, 10))
      ->type_name("SECONDS")
      ->capture_default_str();
  command.add_option("--react-report", reportPath,
                     "plot the features and the parameter curves to this PNG (and a CSV beside it); without -o, "
                     "only the report is made")
      ->type_name("FILE.png");
}

bool RenderMusic::Prepare(const SessionFlags& flags, const ParameterControls& names, std::string& error,
                          bool& usage) {
  usage = true;
  // The command line's order decides: a --set or --ramp after a --react of
  // the same parameter replaces it, and the other way round.
  for (const auto& [kind, text] : flags.controls) {
    Reaction reaction;
    std::string unknown;
    if (kind == "react" && !ParseReaction(text, names, reaction, error)) return false;
    if (kind != "react" && !names.Resolve(text.substr(0, text.rfind('=')), reaction.index, unknown)) continue;
    reactions.erase(std::remove_if(reactions.begin(), reactions.end(),
                                   [&](const Reaction& earlier) { return earlier.index == reaction.index; }),
                    reactions.end());
    if (kind == "react") reactions.push_back(reaction);
  }
  const bool wantsMusic = !reactions.empty() || !reportPath.empty();
  if (!Active()) {
    if (wantsMusic) error = "--react and --react-report need a track: --audio FILE";
    return !wantsMusic;
  }
  if (!reportPath.empty() && (reportPath.size() < 4 || reportPath.substr(reportPath.size() - 4) != ".png")) {
    error = "--react-report: name a .png file";
    return false;
  }
  if (!LoadAudioTrack(audioPath, track, error)) {
    usage = error.find("not installed") == std::string::npos;
    return false;
  }
  usage = false;
  return analysis.Analyse(track, error);
}

void RenderMusic::Attach(RenderTimeline& timeline, double framesPerSecond, long outputFrames) {
  if (!Active()) return;
  timing.framesPerSecond = framesPerSecond;
  curves = std::make_unique<ReactionCurves>(analysis, reactions, timing, outputFrames);
  const ReactionCurves* reacting = curves.get();
  timeline.AddLayer([reacting](long frame, std::vector<ParameterControls::Value>& values) {
    for (size_t r = 0; r < reacting->Reactions().size(); ++r)
      PutValue(values, reacting->Reactions()[r].index, reacting->Value(r, frame));
  });
}

bool RenderMusic::WriteReport(const ParameterControls& names, std::string& error) const {
  return curves->WriteReport(reportPath, names, error);
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
  nlohmann::ordered_json settings;
  settings["audioFingerprint"] = FileFingerprint(track.path);
  settings["lead"] = timing.lead;
  settings["attack"] = timing.attack;
  settings["release"] = timing.release;
  return settings;
}

}  // namespace cli
