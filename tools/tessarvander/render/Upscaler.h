// The picture drawn smaller than the output (play --scale), brought to the
// output's size by a filter sharper than the bilinear a blit gives. The
// filter shipped, Lanczos with two lobes bounded by the four nearest pixels,
// came closest to the picture drawn at full size on the shipped looks: 8 to
// 17 % less error than bilinear from 25 to 50 % of the size, for about
// 19 ms more a 1080p frame on a two-core CPU renderer (docs/benchmarks.md,
// "The upscale"). The GL state it changes is put back.
#pragma once

#include <iterator>
#include <string>

#include "hostkit/FrameTarget.h"
#include "render/ScreenProgram.h"

namespace tool {

// In the order of the shader's FILTER.
enum class UpscaleFilter { Bilinear, CatmullRom, Lanczos2, Sharpened };
constexpr UpscaleFilter kUpscaleFilters[] = {UpscaleFilter::Bilinear, UpscaleFilter::CatmullRom,
                                             UpscaleFilter::Lanczos2, UpscaleFilter::Sharpened};
const char* UpscaleFilterName(UpscaleFilter filter);
// The one the player uses.
constexpr UpscaleFilter kShippedUpscale = UpscaleFilter::Lanczos2;

class Upscaler {
 public:
  // In the drawing context. False with the driver's log.
  bool Create(std::string& error);
  // Draws `picture` over the whole of `out`, filtered.
  void Draw(const hostkit::FrameTarget& picture, const hostkit::FrameTarget& out,
            UpscaleFilter filter = kShippedUpscale);

 private:
  ScreenProgram programs[std::size(kUpscaleFilters)];  // one a filter
};

}  // namespace tool
