#include "music/Reactions.h"

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "sys/ChildProcess.h"
#include "sys/BoundedFile.h"
#include "sys/Numbers.h"
#include "output/OutputFile.h"

namespace cli {
namespace {

// A title for the plot with only letters, digits, spaces and ._()/-: any
// other character becomes _.
std::string PlainTitle(const std::string& text) {
  std::string plain;
  for (char c : text)
    plain += std::isalnum(static_cast<unsigned char>(c)) || std::string(" ._()/-").find(c) != std::string::npos ? c : '_';
  return plain;
}

}  // namespace
namespace {

bool IsPulse(AudioFeature feature) { return feature == AudioFeature::Onset || feature == AudioFeature::Beat; }

// The share of the way a one-pole follower closes in one frame.
double Closing(double timeConstant, double frameSeconds) {
  return timeConstant <= 0.0 ? 1.0 : 1.0 - std::exp(-frameSeconds / timeConstant);
}

}  // namespace

bool ParseReaction(const std::string& text, const ParameterControls& names, Reaction& reaction, std::string& error) {
  const size_t equals = text.rfind('=');
  const size_t firstColon = text.find(':', equals == std::string::npos ? 0 : equals);
  const size_t lastColon = text.rfind(':');
  if (equals == std::string::npos || equals == 0 || firstColon == std::string::npos || firstColon == lastColon) {
    error = "--react: \"" + text + "\" is not of the form NAME=FROM:TO:FEATURE";
    return false;
  }
  const std::string name = text.substr(0, equals);
  if (!names.Resolve(name, reaction.index, error)) return false;
  const std::string feature = text.substr(lastColon + 1);
  if (!ParseAudioFeature(feature, reaction.feature)) {
    error = "--react " + name + ": unknown feature \"" + feature + "\"; the features are level, bass, mid, treble, "
            "onset and beat";
    return false;
  }
  return ParseFloat(text.substr(equals + 1, firstColon - equals - 1), "--react " + name, reaction.from, error) &&
         ParseFloat(text.substr(firstColon + 1, lastColon - firstColon - 1), "--react " + name, reaction.to, error);
}

ReactionCurves::ReactionCurves(const AudioAnalysis& analysis, const std::vector<Reaction>& reactions,
                               const ReactionTiming& timing, long frames)
    : analysis(analysis), reactions(reactions), timing(timing), frames(frames), values(reactions.size()) {
  const double frameSeconds = 1.0 / timing.framesPerSecond;
  for (size_t r = 0; r < reactions.size(); ++r) {
    const Reaction& reaction = reactions[r];
    double envelope = 0.0;
    values[r].resize(static_cast<size_t>(frames));
    for (long frame = 0; frame < frames; ++frame) {
      const double raw = Feature(reaction.feature, frame);
      // Pulses decay by themselves; only their rise can be softened.
      const bool rising = raw > envelope;
      const double timeConstant = rising ? timing.attack : (IsPulse(reaction.feature) ? 0.0 : timing.release);
      envelope += (raw - envelope) * Closing(timeConstant, frameSeconds);
      values[r][static_cast<size_t>(frame)] =
          static_cast<float>(reaction.from + (static_cast<double>(reaction.to) - reaction.from) * envelope);
    }
  }
}

float ReactionCurves::Feature(AudioFeature feature, long frame) const {
  const double frameSeconds = 1.0 / timing.framesPerSecond;
  const double seconds = static_cast<double>(frame) * frameSeconds + timing.lead;
  if (!IsPulse(feature)) return analysis.Continuous(feature, seconds, frameSeconds);
  // An event within the frame's span peaks in that frame.
  const double event = analysis.LastEvent(feature, seconds + frameSeconds * 0.999);
  if (event < 0.0) return 0.0f;
  return static_cast<float>(std::exp(-std::max(0.0, seconds - event) / std::max(1e-6, timing.release)));
}

bool ReactionCurves::WriteReport(const std::string& pngPath, const ParameterControls& names,
                                 std::string& error) const {
  const std::string csvPath = pngPath.substr(0, pngPath.rfind('.')) + ".csv";
  std::ostringstream csv;
  csv << "seconds";
  for (AudioFeature feature : kAudioFeatures) csv << "," << AudioFeatureName(feature);
  for (const Reaction& reaction : reactions) csv << ",\"" << names.NameOf(reaction.index) << "\"";
  csv << "\n";
  for (long frame = 0; frame < frames; ++frame) {
    csv << static_cast<double>(frame) / timing.framesPerSecond;
    for (AudioFeature feature : kAudioFeatures) csv << "," << Feature(feature, frame);
    for (size_t r = 0; r < reactions.size(); ++r) csv << "," << Value(r, frame);
    csv << "\n";
  }
  if (!WriteWholeFile(csvPath, csv.str(), error)) return false;

  // gnuplot reads its script as a program: no name from outside reaches it.
  // It works in a private folder on fixed names, and titles keep only plain
  // characters.
  char folderTemplate[] = "/tmp/tessarvander-plot-XXXXXX";
  const char* folder = mkdtemp(folderTemplate);
  if (!folder) {
    error = "the report: cannot make a private folder for gnuplot";
    return false;
  }
  const std::string work = folder;
  const auto cleanUp = [&] {
    std::remove((work + "/data.csv").c_str());
    std::remove((work + "/plot.png").c_str());
    rmdir(work.c_str());
  };
  std::string ignored;
  if (!WriteWholeFile(work + "/data.csv", csv.str(), ignored)) {
    cleanUp();
    error = "the report: cannot write gnuplot's data";
    return false;
  }
  std::string script =
      "set terminal png size 1600,900\nset output 'plot.png'\nset datafile separator ','\nset key outside right\n"
      "set multiplot layout 2,1\nset title 'audio features'\nset yrange [0:1.05]\nplot ";
  int column = 2;
  for (AudioFeature feature : kAudioFeatures) {
    script += std::string(column > 2 ? ", " : "") + "'data.csv' using 1:" + std::to_string(column) +
              " with lines title '" + PlainTitle(AudioFeatureName(feature)) + "'";
    ++column;
  }
  script += "\nset title 'parameters'\nset autoscale y\nset xlabel 'seconds'\nplot ";
  for (size_t r = 0; r < reactions.size(); ++r) {
    script += std::string(r > 0 ? ", " : "") + "'data.csv' using 1:" + std::to_string(column) + " with lines title '" +
              PlainTitle(names.NameOf(reactions[r].index) + " (" + AudioFeatureName(reactions[r].feature) + ")") + "'";
    ++column;
  }
  if (reactions.empty()) script += "0 notitle";
  script += "\nunset multiplot\n";
  const ChildResult plotted = RunChild({"gnuplot"}, script, work);
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

}  // namespace cli
