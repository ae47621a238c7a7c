// The performer's hand on the tempo, over whichever source leads it: a nudge
// moves the beat's phase earlier or later (a small step a press, a smooth
// push while held), "the one" makes now a downbeat, halving and doubling
// change the count without a jump in the beats, and a lock holds the tempo
// and phase as they stand, against the source, until released. Every time
// is the event's own (when the key went down, the pad was hit, the message
// arrived), in the steady clock's seconds; a reading asked for any time,
// before or after the last event, is one continuous line of beats.
#pragma once

#include "rig/Tempo.h"

namespace tool {

class TempoHand {
 public:
  static constexpr int kBeatsPerBar = 4;
  // A press moves the phase this far; held past kPushAfter it pushes on at
  // kPushRate, for kLongestPush at most (a release lost with a controller).
  static constexpr double kNudgeBeats = 1.0 / 32.0;
  static constexpr double kPushAfter = 0.3;          // seconds
  static constexpr double kPushRate = 0.25;          // beats a second
  static constexpr double kLongestPush = 4.0;        // seconds
  // Halving and doubling stay within these factors of the source's tempo.
  static constexpr double kSmallestFactor = 0.125, kLargestFactor = 8.0;

  // The source's reading at `time`, as the performer's hand makes it.
  TempoReading Read(const TempoReading& source, double time) const;

  // `direction` +1 earlier, -1 later; `held` false lets go.
  void Nudge(int direction, bool held, double at);
  // The next downbeat is `at`; false when there is no tempo to count from.
  bool One(const TempoReading& source, double at);
  // Half or twice the tempo from `at` on, the beats counting on from where
  // they stood; false at the factor's limit or without a tempo.
  bool Scale(double factor, const TempoReading& source, double at);
  // Holds the tempo and phase as they read at `at`, or lets the source lead
  // again from where the held beats stand; false when locking without a
  // tempo.
  bool Lock(bool on, const TempoReading& source, double at);
  bool Locked() const { return locked; }
  double Factor() const { return factor; }
  // The phase moved by nudges and "the one", in beats (for the panel).
  double Offset(double time) const { return offset + Pushed(time); }

 private:
  // The beats before the offset: the source's scaled, or the held line.
  double Raw(const TempoReading& source, double time) const;
  double Pushed(double time) const;
  void EndPush(double at);

  double factor = 1.0;
  double offset = 0.0;  // beats added to the raw count
  int pushing = 0;      // the direction of a push held, or 0
  double pushFrom = 0.0;
  bool locked = false;
  double lockedAt = 0.0, lockedRaw = 0.0, lockedBeatsPerMinute = 0.0;
};

}  // namespace tool
