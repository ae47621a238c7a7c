// Music made from known beats, for checking the beat tracker: a small drum
// kit, a bass line and chords that change on every bar, and a pad for breaks,
// laid out bar by bar. The builder records where every beat and bar starts,
// and where the track is silent.
#pragma once

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace synthetic {

constexpr int kRate = 44100;

enum class Pattern {
  Basic,     // kick on 1 and 3, snare on 2 and 4, hi-hat on the eighths
  Swing,     // the same with the off-beat hi-hat late, at two thirds of the beat
  Tresillo,  // kick on eighths 0, 3 and 6 of the bar (3+3+2), snare on 2 and 4
  Sparse,    // kick on 1 and hi-hat on the beats only: an intro
  Kick3334,  // kick every three sixteenths, 3+3+3+3+4 in the bar; snare on 2 and 4
  Swing31,   // Swing with the off-beat hi-hat at three quarters of the beat
  PadOnly,   // no drums: a break
  Fives,     // kick and snare in turn every five sixteenths, across the bars; soft hi-hat on the beats
  SwungComp, // Swing with a loud chord on every swung note: a shuffle's comping guitar
  Breakdown, // no kick or snare: even hi-hats on the eighths and a bass note on every off-beat (trance)
  Upbeats,   // a chord struck on every off-beat and nothing else: an intro's stabs
};

struct Track {
  std::vector<float> samples;
  std::vector<double> beats, downbeats;
  std::vector<std::pair<double, double>> silences;  // [start, end) seconds
  double Seconds() const { return static_cast<double>(samples.size()) / kRate; }
};

class Builder {
 public:
  explicit Builder(double leadIn = 0.25) { Silence(leadIn, false); }

  // `bars` bars of four at `bpm`, at `gain` (1 is the full mix).
  Builder& Bars(int bars, double bpm, Pattern pattern, double gain = 1.0) {
    const double beat = 60.0 / bpm;
    for (int bar = 0; bar < bars; ++bar, ++barCount) {
      const double start = cursor;
      track.downbeats.push_back(start);
      for (int b = 0; b < 4; ++b) track.beats.push_back(start + b * beat);
      const double roots[] = {55.0, 43.65, 65.41, 49.0};
      const double root = roots[barCount % 4];
      if (pattern == Pattern::PadOnly) {
        Pad(start, 4 * beat, root * 4.0, 0.08 * gain);
      } else if (pattern == Pattern::Upbeats) {
        for (int b = 0; b < 4; ++b) Stab(start + (b + 0.5) * beat, root * 4.0, 0.5 * gain);
      } else if (pattern == Pattern::Breakdown) {
        for (int eighth = 0; eighth < 8; ++eighth) HiHat(start + eighth * beat / 2.0, 0.15 * gain);
        for (int b = 0; b < 4; ++b) Bass(start + (b + 0.5) * beat, 0.4 * beat, root, 0.4 * gain);
      } else {
        Bass(start, 4 * beat, root, 0.22 * gain);
        Pad(start, 4 * beat, root * 4.0, 0.03 * gain);  // the chord of the bar
        for (int eighth = 0; eighth < 8; ++eighth) {
          double at = start + eighth * beat / 2.0;
          if ((pattern == Pattern::Swing || pattern == Pattern::SwungComp) && eighth % 2 == 1)
            at = start + (eighth / 2 + 2.0 / 3.0) * beat;
          if (pattern == Pattern::SwungComp && eighth % 2 == 1) Stab(at, root * 4.0, 0.5 * gain);
          if (pattern == Pattern::Swing31 && eighth % 2 == 1) at = start + (eighth / 2 + 3.0 / 4.0) * beat;
          const bool onBeat = eighth % 2 == 0;
          if (pattern == Pattern::Fives) {
            if (onBeat) HiHat(at, 0.08 * gain);

          } else if (pattern != Pattern::Sparse || onBeat) {
            HiHat(at, (onBeat ? 0.22 : 0.12) * gain);
          }
        }
        if (pattern == Pattern::Tresillo) {
          for (int eighth : {0, 3, 6}) Kick(start + eighth * beat / 2.0, 0.9 * gain);
        } else if (pattern == Pattern::Fives) {
          for (int sixteenth = 0; sixteenth < 16; ++sixteenth) {
            const int figure = barCount * 16 + sixteenth;
            if (figure % 5 == 0) (figure % 10 == 0 ? Kick(start + sixteenth * beat / 4.0, 0.9 * gain)
                                                   : Snare(start + sixteenth * beat / 4.0, 0.6 * gain));
          }
        } else if (pattern == Pattern::Kick3334) {
          for (int sixteenth : {0, 3, 6, 9, 12}) Kick(start + sixteenth * beat / 4.0, 0.9 * gain);
        } else {
          Kick(start, 0.9 * gain);
          if (pattern != Pattern::Sparse) Kick(start + 2 * beat, 0.8 * gain);
        }
        if (pattern != Pattern::Sparse && pattern != Pattern::Fives) {
          Snare(start + beat, 0.5 * gain);
          Snare(start + 3 * beat, 0.5 * gain);
        }
      }
      cursor = start + 4 * beat;
    }
    Grow(cursor);
    return *this;
  }

  // Bars of the Basic pattern whose tempo moves from `from` to `to` beat by
  // beat, evenly in tempo: an accelerando (or a ritardando).
  Builder& Ramp(int bars, double from, double to) {
    const int beats = 4 * bars;
    for (int b = 0; b < beats; ++b) {
      const double bpm = from + (to - from) * (b + 0.5) / beats;
      const double beat = 60.0 / bpm;
      if (b % 4 == 0) {
        track.downbeats.push_back(cursor);
        Bass(cursor, 4 * beat, 55.0, 0.22);
        ++barCount;
      }
      track.beats.push_back(cursor);
      HiHat(cursor, 0.22);
      HiHat(cursor + beat / 2.0, 0.12);
      if (b % 2 == 0) Kick(cursor, 0.9);
      else Snare(cursor, 0.5);
      cursor += beat;
    }
    Grow(cursor);
    return *this;
  }

  // Digital silence (recorded as such), or quiet hi-hats at `level` with no
  // beat counted: a fade-out below the gate.
  Builder& Silence(double seconds, bool record = true) {
    if (record) track.silences.push_back({cursor, cursor + seconds});
    cursor += seconds;
    Grow(cursor);
    return *this;
  }
  Builder& FadeTail(double seconds, double level, double bpm) {
    for (double at = cursor; at < cursor + seconds; at += 60.0 / bpm) HiHat(at, level);
    track.silences.push_back({cursor, cursor + seconds});
    cursor += seconds;
    Grow(cursor);
    return *this;
  }
  // A loud click: one transient far above the mix.
  Builder& Transient(double at, double amplitude) {
    for (int i = 0; i < 200; ++i) Add(at + static_cast<double>(i) / kRate, amplitude * (i % 2 ? -1.0 : 1.0));
    return *this;
  }

  // A metronome's click: a short tone of 1 kHz that dies within 20 ms.
  Builder& Click(double at, double amplitude) {
    for (int i = 0; i < kRate / 20; ++i) {
      const double t = static_cast<double>(i) / kRate;
      Add(at + t, amplitude * std::sin(2.0 * M_PI * 1000.0 * t) * std::exp(-t / 0.01));
    }
    return *this;
  }

  Track Done() { return track; }

 private:
  void Grow(double seconds) {
    const size_t size = static_cast<size_t>(std::ceil(seconds * kRate));
    if (track.samples.size() < size) track.samples.resize(size, 0.0f);
  }
  void Add(double seconds, double value) {
    const long i = std::lround(seconds * kRate);
    if (i < 0) return;
    if (static_cast<size_t>(i) >= track.samples.size()) track.samples.resize(static_cast<size_t>(i) + 1, 0.0f);
    track.samples[static_cast<size_t>(i)] += static_cast<float>(value);
  }
  double Noise() {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(seed >> 11) / 9007199254740992.0 * 2.0 - 1.0;
  }
  void Kick(double at, double gain) {
    double phase = 0.0;
    for (int i = 0; i < kRate * 4 / 10; ++i) {
      const double t = static_cast<double>(i) / kRate;
      phase += 2.0 * M_PI * (50.0 + 70.0 * std::exp(-t / 0.03)) / kRate;
      Add(at + t, gain * std::sin(phase) * std::exp(-t / 0.12));
    }
  }
  void Snare(double at, double gain) {
    for (int i = 0; i < kRate / 4; ++i) {
      const double t = static_cast<double>(i) / kRate;
      Add(at + t, gain * (0.7 * Noise() * std::exp(-t / 0.06) + 0.5 * std::sin(2 * M_PI * 190.0 * t) * std::exp(-t / 0.04)));
    }
  }
  void HiHat(double at, double gain) {
    double last = 0.0;
    for (int i = 0; i < kRate * 6 / 100; ++i) {
      const double t = static_cast<double>(i) / kRate, noise = Noise();
      Add(at + t, gain * (noise - last) * 0.5 * std::exp(-t / 0.015));
      last = noise;
    }
  }
  void Bass(double at, double length, double hz, double gain) {
    for (long i = 0; i < std::lround(length * kRate); ++i) {
      const double t = static_cast<double>(i) / kRate;
      const double envelope = std::min(1.0, t / 0.01) * std::min(1.0, (length - t) / 0.02);
      Add(at + t, gain * envelope * std::sin(2 * M_PI * hz * t));
    }
  }
  // A short chord, struck.
  void Stab(double at, double hz, double gain) {
    for (long i = 0; i < kRate / 8; ++i) {
      const double t = static_cast<double>(i) / kRate;
      double sum = 0.0;
      for (double ratio : {1.0, 1.26, 1.5, 2.0}) sum += std::sin(2 * M_PI * hz * ratio * t);
      Add(at + t, gain * std::exp(-t / 0.04) * sum);
    }
  }
  void Pad(double at, double length, double hz, double gain) {
    for (long i = 0; i < std::lround(length * kRate); ++i) {
      const double t = static_cast<double>(i) / kRate;
      const double envelope = std::min(1.0, t / 0.3) * std::min(1.0, (length - t) / 0.3);
      double sum = 0.0;
      for (double ratio : {1.0, 1.26, 1.5}) sum += std::sin(2 * M_PI * hz * ratio * t);
      Add(at + t, gain * envelope * sum);
    }
  }

  Track track;
  double cursor = 0.0;
  int barCount = 0;
  uint64_t seed = 12345;
};

// How well tracked beats fit known ones: each known beat matched by at most
// one tracked beat within `tolerance`.
struct Match {
  size_t matched = 0, known = 0, extra = 0;
  double Share() const { return known ? static_cast<double>(matched) / known : 0.0; }
  double ExtraShare() const { return known ? static_cast<double>(extra) / known : 0.0; }
};

inline Match MatchBeats(const std::vector<double>& known, const std::vector<double>& tracked, double tolerance) {
  Match match;
  match.known = known.size();
  std::vector<bool> used(tracked.size(), false);
  for (double beat : known) {
    for (size_t i = 0; i < tracked.size(); ++i) {
      if (!used[i] && std::fabs(tracked[i] - beat) <= tolerance) {
        used[i] = true;
        ++match.matched;
        break;
      }
    }
  }
  for (bool u : used) match.extra += u ? 0 : 1;
  return match;
}

}  // namespace synthetic
