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

#include "AudioAnalysis.h"
#include "CommandSupport.h"
#include "FrameSinks.h"
#include "Reactions.h"
#include "RenderTimeline.h"

namespace cli {

class RenderMusic {
 public:
  void Declare(CLI::App& command, SessionFlags& flags);
  bool Active() const { return !audioPath.empty(); }
  const std::string& ReportPath() const { return reportPath; }

  // Reads the reactions against the plugin's parameters, then loads and
  // analyses the track. False with one line; `usage` tells a bad command
  // line or input from a failure.
  bool Prepare(const SessionFlags& flags, const ParameterControls& names, std::string& error, bool& usage);
  double TrackSeconds() const { return track.Seconds(); }
  // "track.wav: 10.0 s, 120.0 beats a minute, 20 beats, 20 onsets".
  std::string Describe() const;

  // The reactions' curves for the render's output frames, as a layer of the
  // timeline.
  void Attach(RenderTimeline& timeline, double framesPerSecond, long outputFrames);
  // Writes the report (CSV and plot) of the attached curves.
  bool WriteReport(const ParameterControls& names, std::string& error) const;
  // The tempo and bar phase at an output frame.
  void BeatAt(long outputFrame, double framesPerSecond, float& beatsPerMinute, float& barPhase) const;
  AudioMux Mux(double videoSeconds) const { return {track.path, track.codec, videoSeconds}; }
  const std::string& TrackPath() const;
  // What of it decides a render's frames, for a segment's manifest (the
  // track by its fingerprint: machines may keep it at different paths).
  nlohmann::ordered_json Settings() const;

 private:
  std::string audioPath;
  std::string reportPath;
  ReactionTiming timing;
  std::vector<Reaction> reactions;
  AudioTrack track;
  AudioAnalysis analysis;
  std::unique_ptr<ReactionCurves> curves;
};

}  // namespace cli
