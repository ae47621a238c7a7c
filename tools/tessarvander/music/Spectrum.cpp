#include "music/Spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "music/AudioFeatures.h"
#include "music/AubioHandles.h"

namespace tool {
struct Spectrum::Fft {
  AubioFft fft;
  AubioVector shaped, complex;
  AubioComplex norms;
};

Spectrum::Spectrum() = default;
Spectrum::~Spectrum() = default;
Spectrum::Spectrum(Spectrum&&) noexcept = default;
Spectrum& Spectrum::operator=(Spectrum&&) noexcept = default;

bool Spectrum::Begin(unsigned windowLength, unsigned hopLength, int sampleRate, std::string& error) {
  window = windowLength;
  hop = hopLength;
  fft = std::make_unique<Fft>();
  fft->fft.reset(new_aubio_fft(window));
  if (!fft->fft || sampleRate <= 0 || hop == 0 || hop > window) {
    error = "aubio cannot make a spectrum of " + std::to_string(window) + " samples";
    fft.reset();
    return false;
  }
  fft->shaped.reset(new_fvec(window));
  fft->complex.reset(new_fvec(window));
  fft->norms.reset(new_cvec(window));
  binHz = static_cast<double>(sampleRate) / window;
  samples.assign(window, 0.0f);
  hann.resize(window);
  for (unsigned i = 0; i < window; ++i) hann[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * i / (window - 1)));
  magnitudes.assign(fft->norms->length, 0.0f);
  return true;
}

void Spectrum::Push(const float* hopSamples) {
  std::memmove(samples.data(), samples.data() + hop, (window - hop) * sizeof(float));
  std::memcpy(samples.data() + window - hop, hopSamples, hop * sizeof(float));
  for (unsigned i = 0; i < window; ++i) fft->shaped->data[i] = samples[i] * hann[i];
  // Magnitudes only: the phase is never used.
  aubio_fft_do_complex(fft->fft.get(), fft->shaped.get(), fft->complex.get());
  aubio_fft_get_norm(fft->complex.get(), fft->norms.get());
  // A full-scale sine's peak through a Hann window is a quarter of the window.
  const float fullScale = static_cast<float>(window) / 4.0f;
  for (size_t bin = 0; bin < magnitudes.size(); ++bin) magnitudes[bin] = fft->norms->norm[bin] / fullScale;
}

void Spectrum::BandEnergies(double bands[3]) const {
  bands[0] = bands[1] = bands[2] = 0.0;
  for (size_t bin = 1; bin < magnitudes.size(); ++bin) {
    const double hz = static_cast<double>(bin) * binHz;
    const double energy = static_cast<double>(magnitudes[bin]) * magnitudes[bin];
    if (hz < kBassTopHz) bands[0] += energy;
    else if (hz < kMidTopHz) bands[1] += energy;
    else if (hz < kTrebleTopHz) bands[2] += energy;
  }
}

float Spectrum::Compressed(float magnitude) {
  return static_cast<float>(std::log1p(kMagnitudeCompression * magnitude));
}

bool MelBank::Begin(unsigned window, int sampleRate) {
  constexpr double kLowest = 30.0, kHighest = 16000.0;
  bands.clear();
  const AubioFilterbank mel(new_aubio_filterbank(kBands, window));
  if (!mel || sampleRate <= 0 ||
      aubio_filterbank_set_mel_coeffs(mel.get(), static_cast<smpl_t>(sampleRate), kLowest,
                                      std::min(kHighest, sampleRate / 2.0)) != 0)
    return false;
  const fmat_t* weights = aubio_filterbank_get_coeffs(mel.get());
  for (uint_t row = 0; row < weights->height; ++row) {
    const float* band = weights->data[row];
    Band sparse;
    uint_t first = weights->length, last = 0;
    for (uint_t bin = 0; bin < weights->length; ++bin)
      if (band[bin] != 0.0f) first = std::min(first, bin), last = bin;
    if (first <= last) {
      sparse.firstBin = first;
      sparse.weights.assign(band + first, band + last + 1);
    }
    bands.push_back(std::move(sparse));
  }
  return bands.size() == kBands;
}

void MelBank::Energies(const std::vector<float>& magnitudes, float energies[kBands]) const {
  for (unsigned band = 0; band < kBands; ++band) {
    const Band& weights = bands[band];
    float energy = 0.0f;
    for (size_t k = 0; k < weights.weights.size(); ++k) energy += weights.weights[k] * magnitudes[weights.firstBin + k];
    energies[band] = energy;
  }
}

}  // namespace tool
