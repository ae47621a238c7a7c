// The report of a render to music (--react-report FILE.png): every feature
// and every reaction's curve per output frame as CSV, and a plot of them
// that a person reads before a long render:
//   - a top panel of events: onsets, beats, downbeats and section changes as
//     ticks of rising height;
//   - a panel for the level and for each feature a reaction follows;
//   - a panel for each driven parameter;
// all on one time axis, with the downbeats drawn faintly through every panel.
#pragma once

#include <string>

#include "music/AudioAnalysis.h"
#include "music/Reactions.h"
#include "formats/ParameterControls.h"

namespace tool {

// The stretch of time the plot shows; the CSV always covers the render.
struct ReportWindow {
  double start = 0.0;
  double end = -1.0;  // below start: to the end
};

// "START:END" in seconds. False with one line.
bool ParseReportWindow(const std::string& text, ReportWindow& window, std::string& error);

// Writes FILE.csv beside the picture, then the picture, drawn by gnuplot.
// False with a reason (gnuplot missing names its package; the CSV is
// written first either way).
// `cues`: when a cue sheet's cues fire (seconds), drawn on the events'
// panel.
bool WriteReactionReport(const std::string& pngPath, const ReactionCurves& curves, const AudioAnalysis& analysis,
                         const ParameterNames& names, const ReportWindow& window, const std::vector<double>& cues,
                         std::string& error);

}  // namespace tool
