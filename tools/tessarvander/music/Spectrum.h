// The spectral front end of both analyses, the whole track's and the live
// one: a window of the last samples, slid on by a hop, shaped by a Hann
// window, through aubio's FFT, to magnitudes and the energies of the bands.
//
// Magnitudes are scaled here, once, so that a full-scale sine's peak is 1
// whatever the window's length: the compression before a rise is taken
// (kMagnitudeCompression) then means the same in both analyses, and so does
// every threshold on a magnitude. Band energies are the sums of the scaled
// magnitudes' squares.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tool {

class Spectrum {
 public:
  // False with one line when aubio cannot make an FFT of `window` samples.
  bool Begin(unsigned window, unsigned hop, int sampleRate, std::string& error);
  ~Spectrum();
  Spectrum();
  Spectrum(Spectrum&&) noexcept;
  Spectrum& operator=(Spectrum&&) noexcept;

  // The next hop of samples: the window ends with them now.
  void Push(const float* hop);

  // Per bin, from 0 (DC) to the window's half, scaled as above.
  const std::vector<float>& Magnitudes() const { return magnitudes; }
  double BinHz() const { return binHz; }
  // The energies of bass, mid and treble (AudioFeatures.h) in this window.
  void BandEnergies(double bands[3]) const;
  // A magnitude log-compressed, so a soft attack rises as much as a loud one.
  static float Compressed(float magnitude);

 private:
  struct Fft;
  std::unique_ptr<Fft> fft;
  unsigned window = 0, hop = 0;
  double binHz = 0.0;
  std::vector<float> samples;  // the window's samples, oldest first
  std::vector<float> hann;
  std::vector<float> magnitudes;
};

// The mel filter bank both analyses read the onset strength through (40
// bands from 30 Hz to 16 kHz, as aubio designs them), kept as the sparse
// matrix it is: each band from its first to its last non-zero bin.
// Multiplying it whole cost a quarter of the track's analysis.
class MelBank {
 public:
  static constexpr unsigned kBands = 40;
  // False when aubio cannot design a bank for this window and rate.
  bool Begin(unsigned window, int sampleRate);
  // Each band's energy in these magnitudes (a Spectrum's).
  void Energies(const std::vector<float>& magnitudes, float energies[kBands]) const;

 private:
  struct Band {
    unsigned firstBin = 0;
    std::vector<float> weights;
  };
  std::vector<Band> bands;
};

}  // namespace tool
