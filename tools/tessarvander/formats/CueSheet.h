// Cue sheets: what happens to the show, and when, in the music's own time;
// written by hand or by `tessarvander direct`, rendered by `render --cues`
// and followed live by `play --cues`. One cue a line, in the order they
// happen; `#` starts a comment:
//
//   bar 1            look 01-rainbow-kaleidoscope
//   bar 17           look 3 dissolve 2 bars
//   bar 33 beat 3    look julia-fire cut
//   bar 41           blackout
//   bar 42           back
//   1:30.5           set zoom 0.7
//   bar 49           ramp hue to 0.9 over 8 bars
//
// A position is a bar from 1 (and a beat of it from 1, which may have a
// fraction), or a time: minutes and seconds ("1:30.5") or seconds ("90.5s").
// A look is a slot of the bank from 1, or a look's name (with or without its
// number: "julia-fire" finds "02-julia-fire"); it comes in by a cut, or by a
// transition (dissolve, add, luma, morph) over beats, bars or seconds. A
// blackout fades to black, back fades back, as the stage's B does. A set or
// a ramp moves one parameter (by the names --set takes).
//
// The reader is strict: a line it cannot read, a position before the one
// above it (bars after bars, times after times), a length or a count past
// the limits below is refused with its line number, and nothing is played.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/ParameterNames.h"
#include "formats/Takes.h"

namespace tool {

// A sheet is read through the bounded reader, never whole past this size.
constexpr size_t kMaxCueSheetBytes = 1u << 20;
constexpr size_t kMaxCueLineBytes = 1024;
constexpr size_t kMaxCues = 10000;
constexpr double kLastCueBar = 100000.0;
constexpr double kLastCueSecond = 24.0 * 3600.0;
constexpr double kLongestCueBars = 1000.0;
constexpr int kCueBeatsPerBar = 4;

struct CuePosition {
  bool inBars = true;
  double bar = 1.0;      // from 1
  double beat = 1.0;     // of the bar, from 1
  double seconds = 0.0;  // when not in bars
  // Beats from the first downbeat (bar 1, beat 1 is 0).
  double Beats() const { return (bar - 1.0) * kCueBeatsPerBar + (beat - 1.0); }
};

struct CueLength {
  enum class Unit { Beats, Bars, Seconds };
  double amount = 0.0;  // 0: at once
  Unit unit = Unit::Beats;
  // In seconds, at `secondsPerBeat`.
  double Seconds(double secondsPerBeat) const;
};

enum class CueKind { Look, Blackout, Back, Set, Ramp };

struct Cue {
  int line = 0;           // in the sheet, for messages
  CuePosition at;
  CueKind kind = CueKind::Look;
  std::string look;       // a Look's slot ("3") or name, as written
  Transition transition = Transition::Dissolve;
  CueLength length;       // a Look's transition (0: a cut), a Ramp's duration
  uint32_t parameter = 0; // a Set's or a Ramp's
  float value = 0.0f;     // its value, or the value a Ramp ends at
};

struct CueSheet {
  std::vector<Cue> cues;
};

// Reads a sheet's text; `where` names it in the messages. False with one
// line naming the line and what is wrong.
bool ParseCueSheet(const std::string& text, const std::string& where, const ParameterNames& names, CueSheet& sheet,
                   std::string& error);
bool LoadCueSheet(const std::string& path, const ParameterNames& names, CueSheet& sheet, std::string& error);
// The sheet as text the reader reads back the same; `comment` heads it.
std::string CueSheetText(const CueSheet& sheet, const ParameterNames& names, const std::string& comment = "");
// "bar 17 beat 3", "1:30.50".
std::string CuePositionText(const CuePosition& position);

}  // namespace tool
