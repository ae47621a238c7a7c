// Where the music is: its tempo, and how many beats have passed since a
// downbeat. One source at a time tells it: the performer's taps, a MIDI
// clock, an Ableton Link session, or the live audio's beat tracker. Every
// time here is seconds of one steady clock (SteadySeconds, sys/SteadyClock.h).
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace tool {

struct TempoReading {
  double beatsPerMinute = 0.0;  // 0: no tempo yet
  double beats = 0.0;           // since a downbeat
  bool Known() const { return beatsPerMinute > 0.0; }
  // Where the reading falls in a bar, 0..1, and the beat of the bar, from 0.
  float BarPhase(int beatsPerBar = 4) const;
  int BeatInBar(int beatsPerBar = 4) const;
};

enum class TempoSource { Tap, MidiClock, Link, Audio };
constexpr TempoSource kTempoSources[] = {TempoSource::Tap, TempoSource::MidiClock, TempoSource::Link,
                                         TempoSource::Audio};
// "tap", "midi-clock", "link", "audio".
const char* TempoSourceName(TempoSource source);
bool ParseTempoSource(const std::string& name, TempoSource& source);

// Tap tempo: the mean interval of the last taps, up to eight; a pause of two
// seconds starts a new run, whose first tap is a downbeat.
class TapTempo {
 public:
  static constexpr size_t kTapsKept = 8;
  static constexpr double kLongestGap = 2.0;
  void Tap(double now);
  TempoReading At(double now) const;

 private:
  std::deque<double> taps;
  double period = 0.0;  // seconds a beat
  double anchor = 0.0;  // the last tap, on the grid
  long beatsSinceStart = 0;
};

// MIDI clock: 24 pulses a beat. Pulses arrive when the MIDI system's thread
// gets to them, late by tens or hundreds of milliseconds on a busy machine
// and in bursts; the tempo is the slope of the lower hull of the last eight
// beats' pulse times (the line under them that on-time pulses fix), which
// such lateness does not tilt (a change of tempo is followed within those
// eight beats). The beats are read off that line at any time asked, so a
// motion locked to the clock moves at every process call, not pulse by
// pulse. Start makes the next pulse a downbeat, Stop holds the position,
// Continue goes on from it.
class MidiClockTempo {
 public:
  static constexpr int kPulsesPerBeat = 24;
  static constexpr int kBeatsFitted = 8;
  void Pulse(double at);
  void Start();
  void Continue() { running = true; }
  void Stop() { running = false; }
  bool Running() const { return running; }
  TempoReading At(double now) const;

 private:
  std::deque<double> pulses;  // times of the last pulses
  std::vector<size_t> hull;   // their lower hull, by index
  double pulsePeriod = 0.0;
  double lastOnTime = 0.0;    // when the newest pulse was due
  long position = -1;         // pulses since the start; -1 before the first
  bool running = true;        // a clock without Start still gives a tempo
};

}  // namespace tool
