#include "formats/CueSheet.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "formats/OscMessages.h"
#include "sys/BoundedFile.h"
#include "sys/Messages.h"
#include "sys/Numbers.h"

namespace tool {
namespace {

// A line's words, and where the reader stands in them.
class Words {
 public:
  explicit Words(const std::string& line) {
    std::istringstream in(line);
    for (std::string word; in >> word;) words.push_back(word);
  }
  bool Done() const { return at >= words.size(); }
  // The next word, or empty at the end.
  std::string Next() { return Done() ? "" : words[at++]; }
  std::string Peek() const { return Done() ? "" : words[at]; }

 private:
  std::vector<std::string> words;
  size_t at = 0;
};

// A plain decimal number (no sign unless allowed, no exponent, no "nan").
bool Decimal(const std::string& text, double& value, bool negative = false) {
  if (text.empty() || text.size() > 20) return false;
  size_t digits = 0, points = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') ++digits;
    else if (c == '.') ++points;
    else if (!(negative && c == '-' && i == 0)) return false;
  }
  if (digits == 0 || points > 1) return false;
  value = std::strtod(text.c_str(), nullptr);
  return std::isfinite(value);
}

// "1:30.5" or "90.5s".
bool Time(const std::string& text, double& seconds) {
  const size_t colon = text.find(':');
  double minutes = 0.0, rest = 0.0;
  if (colon != std::string::npos) {
    if (!Decimal(text.substr(0, colon), minutes) || minutes != std::floor(minutes) ||
        !Decimal(text.substr(colon + 1), rest) || rest >= 60.0)
      return false;
    seconds = minutes * 60.0 + rest;
    return true;
  }
  if (text.size() < 2 || text.back() != 's') return false;
  return Decimal(text.substr(0, text.size() - 1), seconds);
}

bool Position(Words& words, CuePosition& at, std::string& why) {
  const std::string first = words.Next();
  if (first == "bar") {
    at.inBars = true;
    if (!Decimal(words.Next(), at.bar) || at.bar < 1.0 || at.bar != std::floor(at.bar) || at.bar > kLastCueBar)
      return why = "a bar is a whole number from 1 to " + std::to_string(static_cast<long>(kLastCueBar)), false;
    at.beat = 1.0;
    if (words.Peek() == "beat") {
      words.Next();
      if (!Decimal(words.Next(), at.beat) || at.beat < 1.0 || at.beat >= kCueBeatsPerBar + 1.0)
        return why = "a beat of the bar is from 1 to " + std::to_string(kCueBeatsPerBar) + " (with a fraction)", false;
    }
    return true;
  }
  at.inBars = false;
  if (!Time(first, at.seconds) || at.seconds > kLastCueSecond)
    return why = "a cue starts with its place: \"bar N\", \"bar N beat B\", \"M:SS.s\" or \"SS.ss\"", false;
  return true;
}

// "2 bars", "3 beats", "1.5s" (after the words before it).
bool Length(Words& words, CueLength& length, std::string& why) {
  const std::string amount = words.Next();
  if (Time(amount, length.amount) && amount.back() == 's') {
    length.unit = CueLength::Unit::Seconds;
  } else {
    const std::string unit = words.Next();
    if (!Decimal(amount, length.amount)) return why = "a length is a number of beats, bars or seconds", false;
    if (unit == "beat" || unit == "beats") length.unit = CueLength::Unit::Beats;
    else if (unit == "bar" || unit == "bars") length.unit = CueLength::Unit::Bars;
    else return why = "a length is in beats, bars or seconds (\"2 bars\", \"3 beats\", \"1.5s\")", false;
  }
  const double bars = length.unit == CueLength::Unit::Bars    ? length.amount
                      : length.unit == CueLength::Unit::Beats ? length.amount / kCueBeatsPerBar
                                                              : length.amount / 2.0;  // seconds: at 120 a minute
  if (bars > kLongestCueBars) return why = "a length is at most " + std::to_string(static_cast<long>(kLongestCueBars)) + " bars", false;
  return true;
}

bool Action(Words& words, const ParameterNames& names, Cue& cue, std::string& why) {
  const std::string kind = words.Next();
  if (kind == "look") {
    cue.kind = CueKind::Look;
    cue.look = words.Next();
    if (cue.look.empty()) return why = "look names a slot of the bank from 1, or a look", false;
    if (cue.look.size() > 100) return why = "a look's name is at most 100 characters", false;
    for (const char c : cue.look)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return why = "a look's name holds a control character", false;
    if (words.Done()) return true;  // a cut
    const std::string how = words.Next();
    if (how == "cut") return true;
    if (!ParseTransition(how, cue.transition))
      return why = "a look comes in by cut, dissolve, add, luma or morph, not \"" + Printable(how, 30) + "\"", false;
    return Length(words, cue.length, why);
  }
  if (kind == "blackout" || kind == "back") {
    cue.kind = kind == "blackout" ? CueKind::Blackout : CueKind::Back;
    return true;
  }
  if (kind == "set" || kind == "ramp") {
    cue.kind = kind == "set" ? CueKind::Set : CueKind::Ramp;
    const std::string name = words.Next();
    std::string unknown;
    if (!names.Resolve(name, cue.parameter, unknown)) return why = unknown, false;
    if (cue.kind == CueKind::Ramp && words.Next() != "to") return why = "ramp NAME to VALUE over LENGTH", false;
    double value = 0.0;
    if (!Decimal(words.Next(), value, true) || std::fabs(value) > 1e6) return why = "a value is a plain number", false;
    cue.value = static_cast<float>(value);
    if (cue.kind == CueKind::Set) return true;
    if (words.Next() != "over") return why = "ramp NAME to VALUE over LENGTH", false;
    return Length(words, cue.length, why);
  }
  return why = "a cue is look, blackout, back, set or ramp, not \"" + Printable(kind, 30) + "\"", false;
}

std::string LengthText(const CueLength& length) {
  char text[48];
  if (length.unit == CueLength::Unit::Seconds) std::snprintf(text, sizeof text, "%gs", length.amount);
  else
    std::snprintf(text, sizeof text, "%g %s", length.amount,
                  length.unit == CueLength::Unit::Bars ? (length.amount == 1.0 ? "bar" : "bars")
                                                       : (length.amount == 1.0 ? "beat" : "beats"));
  return text;
}

}  // namespace

double CueLength::Seconds(double secondsPerBeat) const {
  switch (unit) {
    case Unit::Beats: return amount * secondsPerBeat;
    case Unit::Bars: return amount * kCueBeatsPerBar * secondsPerBeat;
    case Unit::Seconds: return amount;
  }
  return 0.0;
}

bool ParseCueSheet(const std::string& text, const std::string& where, const ParameterNames& names, CueSheet& sheet,
                   std::string& error) {
  sheet = CueSheet();
  int number = 0;
  double lastBeats = -1.0, lastSeconds = -1.0;
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string raw = text.substr(start, end - start);
    start = end + 1;
    ++number;
    const std::string place = where + ": line " + std::to_string(number);
    if (raw.size() > kMaxCueLineBytes)
      return error = place + " is longer than " + std::to_string(kMaxCueLineBytes) + " characters", false;
    const std::string line = raw.substr(0, raw.find('#'));
    for (const char c : line)
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r') || c == 0x7f)
        return error = place + " holds a control character", false;
    Words words(line);
    if (words.Done()) continue;
    if (sheet.cues.size() == kMaxCues) return error = where + " holds more than " + std::to_string(kMaxCues) + " cues", false;
    Cue cue;
    cue.line = number;
    std::string why;
    if (!Position(words, cue.at, why) || !Action(words, names, cue, why))
      return error = place + ": " + why + " (\"" + Printable(line, 80) + "\")", false;
    if (!words.Done()) return error = place + ": \"" + Printable(words.Next(), 30) + "\" is more than a cue says", false;
    double& last = cue.at.inBars ? lastBeats : lastSeconds;
    const double now = cue.at.inBars ? cue.at.Beats() : cue.at.seconds;
    if (now < last) return error = place + ": " + CuePositionText(cue.at) + " comes before the cue above it", false;
    last = now;
    sheet.cues.push_back(cue);
  }
  return true;
}

bool LoadCueSheet(const std::string& path, const ParameterNames& names, CueSheet& sheet, std::string& error) {
  std::string text;
  if (!ReadBoundedFile(path, kMaxCueSheetBytes, "cue sheet", text, error)) return false;
  return ParseCueSheet(text, "cue sheet " + Printable(path, 300), names, sheet, error);
}

std::string CuePositionText(const CuePosition& position) {
  char text[64];
  if (!position.inBars) {
    // In hundredths, so 59.999 s reads "1:00.00", never "0:60.00".
    const long hundredths = std::lround(position.seconds * 100.0);
    std::snprintf(text, sizeof text, "%ld:%05.2f", hundredths / 6000, static_cast<double>(hundredths % 6000) / 100.0);
  } else if (position.beat == 1.0) {
    std::snprintf(text, sizeof text, "bar %.0f", position.bar);
  } else {
    std::snprintf(text, sizeof text, "bar %.0f beat %g", position.bar, position.beat);
  }
  return text;
}

std::string CueSheetText(const CueSheet& sheet, const ParameterNames& names, const std::string& comment) {
  std::string text;
  for (size_t start = 0; start < comment.size();) {
    const size_t end = std::min(comment.find('\n', start), comment.size());
    text += "# " + comment.substr(start, end - start) + "\n";
    start = end + 1;
  }
  for (const Cue& cue : sheet.cues) {
    std::string line = CuePositionText(cue.at);
    line.resize(std::max<size_t>(line.size() + 2, 17), ' ');
    switch (cue.kind) {
      case CueKind::Look:
        line += "look " + cue.look +
                (cue.length.amount > 0.0 ? std::string(" ") + TransitionName(cue.transition) + " " + LengthText(cue.length)
                                         : " cut");
        break;
      case CueKind::Blackout: line += "blackout"; break;
      case CueKind::Back: line += "back"; break;
      case CueKind::Set: line += "set " + OscName(names.NameOf(cue.parameter)) + " " + ShortestText(cue.value); break;
      case CueKind::Ramp:
        line += "ramp " + OscName(names.NameOf(cue.parameter)) + " to " + ShortestText(cue.value) + " over " +
                LengthText(cue.length);
        break;
    }
    text += line + "\n";
  }
  return text;
}

}  // namespace tool
