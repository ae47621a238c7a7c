// What `render --audio` adds to a render: the track, decoded and analysed
// before the first frame; parameters that react to it (--react); the tempo
// and bar phase told to the plugin with every frame, as a host playing the
// track would; the sound muxed into the video; and a plot of it all
// (--react-report) to look at before a long render.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "music/AudioAnalysis.h"
#include "output/VideoArguments.h"
#include "music/ReactionReport.h"
#include "music/Reactions.h"
#include "render/RenderTimeline.h"

namespace tool {

// What the command line asks of the music.
struct MusicSettings {
  std::string audioPath;
  std::string reportPath;
  std::string reportWindow;  // "START:END", or empty for the whole render
  std::string beatsPath;     // given beats, instead of the tracker's
  std::string beatScale = "tracked";
  ReactionTiming timing;
  BeatOptions beats;         // the tempo, first beat and bar as given
};

class RenderMusic {
 public:
  MusicSettings settings;

  bool Active() const { return !settings.audioPath.empty(); }
  const std::string& ReportPath() const { return settings.reportPath; }

  // Reads the reactions among the parameter controls (("react", text) and
  // the --set/--ramp that may replace them, in command-line order) against
  // the plugin's parameters, then loads and analyses the track. False with
  // one line; `usage` tells a bad command line or input from a failure.
  bool Prepare(const std::vector<std::pair<std::string, std::string>>& controls, const ParameterNames& names,
               std::string& error, bool& usage);
  double TrackSeconds() const { return track.Seconds(); }
  const AudioAnalysis& Analysis() const { return analysis; }
  // "track.wav: 10.0 s, 120.00 beats a minute, 20 beats in 5 bars of 4,
  // 20 onsets, 1 section change".
  std::string Describe() const;

  // The reactions' curves for the render's output frames, as a layer of the
  // timeline.
  void Attach(RenderTimeline& timeline, double framesPerSecond, long outputFrames);
  // Writes the report (CSV and plot) of the attached curves.
  // `cues`: when a cue sheet's cues fire, in seconds, for the events' panel.
  bool WriteReport(const ParameterNames& names, const std::vector<double>& cues, std::string& error) const;
  // The tempo and bar phase at an output frame.
  void BeatAt(long outputFrame, double framesPerSecond, float& beatsPerMinute, float& barPhase) const;
  AudioMux Mux(double videoSeconds) const { return {track.path, track.codec, videoSeconds}; }
  const std::string& TrackPath() const;
  // What of it decides a render's frames, for a segment's manifest (the
  // track by its fingerprint: machines may keep it at different paths).
  nlohmann::ordered_json Settings() const;

 private:
  std::vector<Reaction> reactions;
  AudioTrack track;
  AudioAnalysis analysis;
  ReportWindow window;
  std::unique_ptr<ReactionCurves> curves;
};

}  // namespace tool
