// aubio's objects held by handles that free them with aubio's own functions,
// so no analysis frees them by hand. Only for the music folder's sources.
#pragma once

#include <aubio/aubio.h>

#include <memory>

namespace tool {

template <class T, void (*Free)(T*)>
struct AubioFree {
  void operator()(T* object) const {
    if (object) Free(object);
  }
};

using AubioFft = std::unique_ptr<aubio_fft_t, AubioFree<aubio_fft_t, del_aubio_fft>>;
using AubioVector = std::unique_ptr<fvec_t, AubioFree<fvec_t, del_fvec>>;
using AubioComplex = std::unique_ptr<cvec_t, AubioFree<cvec_t, del_cvec>>;
using AubioFilterbank = std::unique_ptr<aubio_filterbank_t, AubioFree<aubio_filterbank_t, del_aubio_filterbank>>;
using AubioOnset = std::unique_ptr<aubio_onset_t, AubioFree<aubio_onset_t, del_aubio_onset>>;
using AubioTempo = std::unique_ptr<aubio_tempo_t, AubioFree<aubio_tempo_t, del_aubio_tempo>>;

}  // namespace tool
