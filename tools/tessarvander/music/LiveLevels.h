// The loudness of the live sound and of its three bands, hop by hop, as a
// reaction follows them: dB scaled between the recent loudest moment and
// kRangeDb under it, smoothed over about a frame.
#pragma once

namespace tool {

class LiveLevels {
 public:
  // Quieter than this for a whole beat is silence.
  static constexpr float kSilenceGateDb = -60.0f;

  // One hop: its samples' mean square, and the three bands' energies.
  void Hop(double meanSquare, const double bands[3], float hopSeconds);
  // The level now, in dB (a full-scale sine at 0).
  float LevelDb() const { return levels[0]; }
  // Level, bass, mid, treble in dB, as heard in the last hop.
  float Decibels(int k) const { return levels[k]; }
  // Level, bass, mid, treble, 0..1.
  float Shown(int k) const { return shown[k]; }
  const float* AllShown() const { return shown; }

 private:
  float levels[4] = {0, 0, 0, 0};  // dB now: level, bass, mid, treble
  float loudest = -40.0f;           // the recent top of the level, dB
  float loudestBand = -40.0f;
  float shown[4] = {0, 0, 0, 0};
};

}  // namespace tool
