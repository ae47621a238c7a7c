// The text of --react: NAME=FROM:TO:FEATURE, then settings after commas.
#include "music/Reactions.h"

#include "sys/Messages.h"
#include "sys/Numbers.h"

namespace tool {
namespace {

constexpr double kLongestSpan = 60.0;  // seconds or beats

bool ParseSpan(const std::string& text, const std::string& what, bool mayBeNegative, MusicalSpan& span,
               std::string& error) {
  std::string number = text;
  span.inBars = number.size() > 3 && number.compare(number.size() - 3, 3, "bar") == 0;
  if (span.inBars) number.resize(number.size() - 3);
  span.inBeats = !span.inBars && !number.empty() && number.back() == 'b';
  if (span.inBeats || (!span.inBars && !number.empty() && number.back() == 's')) number.pop_back();
  if (!ParseDouble(number, what, span.amount, error)) return false;
  if (span.amount < (mayBeNegative ? -kLongestSpan : 0.0) || span.amount > kLongestSpan) {
    error = what + ": " + Printable(text) + " is out of range (" + (mayBeNegative ? "-60" : "0") +
            " to 60 seconds, or beats with a b: 0.5b, or bars: 2bar)";
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
  if (key == "rate" || key == "phase") {
    if (!IsShape(reaction.feature)) {
      error = where + ": only a shape (lfo-sine, lfo-triangle, lfo-saw, lfo-square, lfo-random) has a " + key;
      return false;
    }
    if (key == "phase") return within(reaction.phase, 0.0, 1.0, "0 to 1");
    if (!ParseSpan(value, where, false, reaction.rate, error)) return false;
    if (reaction.rate.amount < 1.0 / 64.0) {
      error = where + ": " + Printable(value) + " is too short a period (1/64 at least)";
      return false;
    }
    return true;
  }
  error = what + ": unknown setting \"" + Printable(key) + "\"; the settings are attack, release, lead, curve, gain, "
                 "threshold, and for a shape rate and phase";
  return false;
}

}  // namespace

bool ParseReaction(const std::string& text, const ParameterNames& names, Reaction& reaction, std::string& error) {
  reaction = Reaction();
  const size_t comma = text.find(',');
  const std::string mapping = text.substr(0, comma);
  const size_t equals = mapping.rfind('=');
  const size_t firstColon = mapping.find(':', equals == std::string::npos ? 0 : equals);
  const size_t lastColon = mapping.rfind(':');
  if (equals == std::string::npos || equals == 0 || firstColon == std::string::npos || firstColon == lastColon) {
    error = "--react: \"" + Printable(text) + "\" is not of the form NAME=FROM:TO:FEATURE[,SETTING=VALUE...]";
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

}  // namespace tool
