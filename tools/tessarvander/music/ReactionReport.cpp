#include "music/ReactionReport.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>

#include "sys/OutputFile.h"
#include "sys/BoundedFile.h"
#include "sys/ChildProcess.h"
#include "sys/Messages.h"
#include "sys/Numbers.h"

namespace tool {
namespace {

// gnuplot reads its script as a program: no name from outside reaches it
// but titles, which keep only letters, digits, spaces and ._()/=,- (any other
// character becomes _).
std::string PlainTitle(const std::string& text) {
  std::string plain;
  for (char c : text)
    plain += std::isalnum(static_cast<unsigned char>(c)) || std::string(" ._()/=,-").find(c) != std::string::npos ? c : '_';
  return plain;
}

// The kinds of event in events.csv, in the order of their ticks' height.
enum EventKind { kOnsetTick = 1, kBeatTick, kDownbeatTick, kSectionTick, kCueTick };

std::string EventsCsv(const AudioAnalysis& analysis, const std::vector<double>& cues) {
  std::ostringstream csv;
  const auto write = [&](const std::vector<double>& times, EventKind kind) {
    for (double t : times) csv << t << "," << kind << "\n";
  };
  write(analysis.Onsets(), kOnsetTick);
  write(analysis.Grid().Beats(), kBeatTick);
  write(analysis.Grid().Downbeats(), kDownbeatTick);
  write(analysis.Grid().Sections(), kSectionTick);
  write(cues, kCueTick);
  return csv.str();
}

std::string SpanText(const MusicalSpan& span) {
  char text[32];
  std::snprintf(text, sizeof text, "%g%s", span.amount, span.inBeats ? "b" : "s");
  return text;
}

// "Zoom (bass, release=0.5b)": the reaction as the legend names it.
std::string ReactionTitle(const Reaction& reaction, const ParameterNames& names) {
  std::string title = names.NameOf(reaction.index) + " (" + AudioFeatureName(reaction.feature);
  if (reaction.attackGiven) title += ", attack=" + SpanText(reaction.attack);
  if (reaction.releaseGiven) title += ", release=" + SpanText(reaction.release);
  if (reaction.leadGiven) title += ", lead=" + SpanText(reaction.lead);
  return title + ")";
}

// The gnuplot script: one panel per row, one time axis.
std::string PlotScript(const ReactionCurves& curves, const std::vector<AudioFeature>& shown,
                       const ParameterNames& names, double start, double end) {
  const size_t panels = 1 + shown.size() + curves.Reactions().size();
  const int height = 120 + 150 * static_cast<int>(panels);
  std::ostringstream script;
  script << "set terminal png size 1600," << height << "\nset output 'plot.png'\nset datafile separator ','\n"
         << "set multiplot layout " << panels << ",1 margins 0.07,0.80,0.06,0.98 spacing 0,0.015\n"
         << "set xrange [" << start << ":" << end << "]\nset key outside right top\nset format x ''\n"
         << "set grid noxtics ytics\n";
  // Faint lines at the downbeats, from the panel's floor to its top.
  const auto downbeats = [](double top) {
    return "'events.csv' using 1:($2==" + std::to_string(kDownbeatTick) + "?" + std::to_string(top) +
           ":1/0) with impulses lc rgb '#cccccc' notitle";
  };
  const auto last = [&](size_t panel) {
    if (panel + 1 == panels) script << "set format x '%g'\nset xlabel 'seconds'\n";
  };
  size_t panel = 0;
  script << "set yrange [0:5.3]\nset ytics ('onset' 1, 'beat' 2, 'bar' 3, 'section' 4, 'cue' 5)\n";
  last(panel++);
  script << "plot 'events.csv' using 1:($2==1?1:1/0) with impulses lc rgb '#999999' title 'onsets', "
            "'' using 1:($2==2?2:1/0) with impulses lw 1 lc rgb '#1f77b4' title 'beats', "
            "'' using 1:($2==3?3:1/0) with impulses lw 2 lc rgb '#d62728' title 'downbeats', "
            "'' using 1:($2==4?4.2:1/0) with impulses lw 4 lc rgb '#9467bd' title 'sections', "
            "'' using 1:($2==5?5.2:1/0) with impulses lw 4 lc rgb '#e6a100' title 'cues'\n";
  script << "set ytics auto\nset yrange [0:1.05]\n";
  int column = 2;
  for (AudioFeature feature : kAudioFeatures) {
    for (AudioFeature wanted : shown)
      if (wanted == feature) {
        last(panel++);
        script << "plot " << downbeats(1.05) << ", 'data.csv' using 1:" << column << " with lines lw 1.5 lc rgb '#2ca02c' title '"
               << PlainTitle(AudioFeatureName(feature)) << "'\n";
      }
    ++column;
  }
  for (const Reaction& reaction : curves.Reactions()) {
    const double low = std::min(reaction.from, reaction.to), high = std::max(reaction.from, reaction.to);
    const double margin = std::max(0.05 * (high - low), 1e-3);
    script << "set yrange [" << low - margin << ":" << high + margin << "]\n";
    last(panel++);
    script << "plot " << downbeats(high + margin) << ", 'data.csv' using 1:" << column++ << " with lines lw 1.5 lc rgb '#ff7f0e' title '"
           << PlainTitle(ReactionTitle(reaction, names)) << "'\n";
  }
  script << "unset multiplot\n";
  return script.str();
}

}  // namespace

bool ParseReportWindow(const std::string& text, ReportWindow& window, std::string& error) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) {
    error = "--report-window: \"" + Printable(text) + "\" is not START:END in seconds";
    return false;
  }
  if (!ParseDouble(text.substr(0, colon), "--report-window", window.start, error) ||
      !ParseDouble(text.substr(colon + 1), "--report-window", window.end, error))
    return false;
  if (window.start < 0.0 || window.end <= window.start) {
    error = "--report-window: the end must come after the start, and the start at 0 or later";
    return false;
  }
  return true;
}

bool WriteReactionReport(const std::string& pngPath, const ReactionCurves& curves, const AudioAnalysis& analysis,
                         const ParameterNames& names, const ReportWindow& window, const std::vector<double>& cues,
                         std::string& error) {
  const std::string csvPath = pngPath.substr(0, pngPath.rfind('.')) + ".csv";
  std::ostringstream csv;
  csv << "seconds";
  for (AudioFeature feature : kAudioFeatures) csv << "," << AudioFeatureName(feature);
  for (const Reaction& reaction : curves.Reactions()) csv << ",\"" << names.NameOf(reaction.index) << "\"";
  csv << "\n";
  for (long frame = 0; frame < curves.Frames(); ++frame) {
    csv << static_cast<double>(frame) / curves.FramesPerSecond();
    for (AudioFeature feature : kAudioFeatures) csv << "," << curves.Feature(feature, frame);
    for (size_t r = 0; r < curves.Reactions().size(); ++r) csv << "," << curves.Value(r, frame);
    csv << "\n";
  }
  if (!WriteWholeFile(csvPath, csv.str(), error)) return false;

  // The level, and each feature a reaction follows, once.
  std::vector<AudioFeature> shown = {AudioFeature::Level};
  for (const Reaction& reaction : curves.Reactions())
    if (std::find(shown.begin(), shown.end(), reaction.feature) == shown.end()) shown.push_back(reaction.feature);
  const double length = static_cast<double>(curves.Frames()) / curves.FramesPerSecond();
  const double start = std::min(window.start, length), end = window.end > window.start ? window.end : length;

  // gnuplot works in a private folder, on fixed names.
  char folderTemplate[] = "/tmp/tessarvander-plot-XXXXXX";
  const char* folder = mkdtemp(folderTemplate);
  if (!folder) {
    error = "the report: cannot make a private folder for gnuplot";
    return false;
  }
  const std::string work = folder;
  const auto cleanUp = [&] {
    for (const char* name : {"/data.csv", "/events.csv", "/plot.png"}) std::remove((work + name).c_str());
    rmdir(work.c_str());
  };
  std::string ignored;
  if (!WriteWholeFile(work + "/data.csv", csv.str(), ignored) ||
      !WriteWholeFile(work + "/events.csv", EventsCsv(analysis, cues), ignored)) {
    cleanUp();
    error = "the report: cannot write gnuplot's data";
    return false;
  }
  const ChildResult plotted = RunChild({"gnuplot"}, PlotScript(curves, shown, names, start, std::max(end, start + 1e-3)), work);
  std::string picture;
  const bool drawn = plotted.started && plotted.exitCode == 0 &&
                     ReadBoundedFile(work + "/plot.png", 64u << 20, "plot", picture, ignored);
  cleanUp();
  if (!plotted.started) {
    error = NotInstalled("gnuplot", "the report") + " (the curves are in " + csvPath + ")";
    return false;
  }
  if (!drawn) {
    error = "gnuplot failed to draw " + pngPath + ": " + LastLine(plotted.err);
    return false;
  }
  return WriteWholeFile(pngPath, picture, error);
}

}  // namespace tool
