#include "music/Reactions.h"

#include <algorithm>
#include <cmath>

#include "sys/Messages.h"
#include "sys/Numbers.h"

namespace cli {
namespace {

// "Nearly all the way" for attack and release: to within 1 %, which a
// one-pole follower reaches after 4.6 time constants.
constexpr double kTimeConstantsToSettle = 4.6;
constexpr double kLongestSpan = 60.0;  // seconds or beats

// A pulse that falls from 1 at the event to exactly 0 at `x` = 1, fast at
// first like a struck sound.
double Pulse(double x) {
  if (x < 0.0 || x >= 1.0) return 0.0;
  const double settled = std::exp(-kTimeConstantsToSettle);
  return (std::exp(-kTimeConstantsToSettle * x) - settled) / (1.0 - settled);
}

// The share of the way a one-pole follower closes in one frame, for a
// follower that settles over `span` seconds.
double Closing(double span, double frameSeconds) {
  return span <= 0.0 ? 1.0 : 1.0 - std::exp(-frameSeconds * kTimeConstantsToSettle / span);
}

bool ParseSpan(const std::string& text, const std::string& what, bool mayBeNegative, MusicalSpan& span,
               std::string& error) {
  std::string number = text;
  span.inBeats = !number.empty() && number.back() == 'b';
  if (span.inBeats || (!number.empty() && number.back() == 's')) number.pop_back();
  if (!ParseDouble(number, what, span.amount, error)) return false;
  if (span.amount < (mayBeNegative ? -kLongestSpan : 0.0) || span.amount > kLongestSpan) {
    error = what + ": " + Printable(text) + " is out of range (" + (mayBeNegative ? "-60" : "0") +
            " to 60 seconds, or beats with a b: 0.5b)";
    return false;
  }
  return true;
}

bool ParseShaping(const std::string& option, const std::string& what, Reaction& reaction, std::string& error) {
  const size_t equals = option.find('=');
  const std::string key = option.substr(0, equals), value = equals == std::string::npos ? "" : option.substr(equals + 1);
  const std::string where = what + " " + key;
  if (equals == std::string::npos) {
    error = what + ": \"" + Printable(option) + "\" is not KEY=VALUE (attack, release, lead, curve, gain or threshold)";
    return false;
  }
  const auto within = [&](double& number, double lowest, double highest, const char* range) {
    if (!ParseDouble(value, where, number, error)) return false;
    if (number < lowest || number > highest) {
      error = where + ": " + Printable(value) + " is out of range (" + range + ")";
      return false;
    }
    return true;
  };
  if (key == "attack") return reaction.attackGiven = true, ParseSpan(value, where, false, reaction.attack, error);
  if (key == "release") return reaction.releaseGiven = true, ParseSpan(value, where, false, reaction.release, error);
  if (key == "lead") return reaction.leadGiven = true, ParseSpan(value, where, true, reaction.lead, error);
  if (key == "curve") return within(reaction.curve, 0.05, 20.0, "0.05 to 20");
  if (key == "gain") return within(reaction.gain, -100.0, 100.0, "-100 to 100");
  if (key == "threshold") return within(reaction.threshold, 0.0, 0.99, "0 to 0.99");
  error = what + ": unknown setting \"" + Printable(key) + "\"; the settings are attack, release, lead, curve, gain and threshold";
  return false;
}

}  // namespace

bool ParseReaction(const std::string& text, const ParameterControls& names, Reaction& reaction, std::string& error) {
  reaction = Reaction();
  const size_t comma = text.find(',');
  const std::string mapping = text.substr(0, comma);
  const size_t equals = mapping.rfind('=');
  const size_t firstColon = mapping.find(':', equals == std::string::npos ? 0 : equals);
  const size_t lastColon = mapping.rfind(':');
  if (equals == std::string::npos || equals == 0 || firstColon == std::string::npos || firstColon == lastColon) {
    error = "--react: \"" + text + "\" is not of the form NAME=FROM:TO:FEATURE[,SETTING=VALUE...]";
    return false;
  }
  const std::string name = mapping.substr(0, equals);
  if (!names.Resolve(name, reaction.index, error)) return false;
  const std::string what = "--react " + name;
  const std::string feature = mapping.substr(lastColon + 1);
  if (!ParseAudioFeature(feature, reaction.feature)) {
    error = what + ": unknown feature \"" + Printable(feature) + "\"; the features are " + AudioFeatureList();
    return false;
  }
  if (!ParseFloat(mapping.substr(equals + 1, firstColon - equals - 1), what, reaction.from, error) ||
      !ParseFloat(mapping.substr(firstColon + 1, lastColon - firstColon - 1), what, reaction.to, error))
    return false;
  for (size_t start = comma; start != std::string::npos;) {
    const size_t next = text.find(',', start + 1);
    const std::string option = text.substr(start + 1, next == std::string::npos ? std::string::npos : next - start - 1);
    if (!ParseShaping(option, what, reaction, error)) return false;
    start = next;
  }
  return true;
}

ReactionCurves::ReactionCurves(const AudioAnalysis& analysis, const std::vector<Reaction>& given,
                               const ReactionTiming& timing, long frames)
    : analysis(analysis), reactions(given), timing(timing), frames(frames), values(given.size()) {
  const double frameSeconds = 1.0 / timing.framesPerSecond;
  const BeatGrid& grid = analysis.Grid();
  for (size_t r = 0; r < reactions.size(); ++r) {
    Reaction& reaction = reactions[r];
    if (!reaction.attackGiven) reaction.attack = {timing.attack, false};
    if (!reaction.releaseGiven) reaction.release = {timing.release, false};
    if (!reaction.leadGiven) reaction.lead = {timing.lead, false};
    double envelope = 0.0;
    values[r].resize(static_cast<size_t>(frames));
    for (long frame = 0; frame < frames; ++frame) {
      const double now = static_cast<double>(frame) * frameSeconds;
      const double seconds = now + reaction.lead.Seconds(grid.PeriodAt(now));
      double shaped = std::max(0.0, Raw(reaction, seconds) - reaction.threshold) / (1.0 - reaction.threshold);
      shaped = reaction.gain >= 0.0 ? std::min(1.0, reaction.gain * shaped)
                                    : std::clamp(1.0 + reaction.gain * shaped, 0.0, 1.0);
      if (!IsRamp(reaction.feature)) {
        // Events fall by themselves; only their rise is followed.
        const bool rising = shaped > envelope;
        const double span = rising ? reaction.attack.Seconds(grid.PeriodAt(seconds))
                            : IsEvent(reaction.feature) ? 0.0
                                                        : reaction.release.Seconds(grid.PeriodAt(seconds));
        envelope += (shaped - envelope) * Closing(span, frameSeconds);
        shaped = envelope;
      }
      const double bent = std::pow(std::clamp(shaped, 0.0, 1.0), reaction.curve);
      values[r][static_cast<size_t>(frame)] =
          static_cast<float>(reaction.from + (static_cast<double>(reaction.to) - reaction.from) * bent);
    }
  }
}

double ReactionCurves::Raw(const Reaction& reaction, double seconds) const {
  const double frameSeconds = 1.0 / timing.framesPerSecond;
  const BeatGrid& grid = analysis.Grid();
  switch (reaction.feature) {
    case AudioFeature::BeatPhase:
      return grid.BeatPhase(seconds);
    case AudioFeature::BarPhase:
      return grid.BarPhase(seconds);
    default:
      break;
  }
  if (!IsEvent(reaction.feature)) return analysis.Continuous(reaction.feature, seconds, frameSeconds);
  // An event within the frame's span peaks in that frame.
  const double event = LastEventAt(analysis.Events(reaction.feature), seconds + frameSeconds * 0.999);
  if (event < 0.0) return 0.0;
  const double release = std::max(1e-6, reaction.release.Seconds(grid.PeriodAt(event)));
  return Pulse(std::max(0.0, seconds - event) / release);
}

float ReactionCurves::Feature(AudioFeature feature, long frame) const {
  Reaction plain;
  plain.feature = feature;
  plain.release = {timing.release, false};
  return static_cast<float>(Raw(plain, static_cast<double>(frame) / timing.framesPerSecond + timing.lead));
}

}  // namespace cli
