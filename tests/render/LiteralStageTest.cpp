// The shipped shader stages draw the picture of the stages as first written
// (kept verbatim in tests/support/literal): side by side, into float frame
// buffers, over every kernel with palettes, mirror bands, layer and branch
// counts, detail, clocks, pulse, turn, centre offsets and odd sizes.
//
// The ferrofluid, Julia and Mandelbrot pictures must be the same to the bit.
// The kaleidoscope's fold passes are rewritten (a polynomial for the folded
// angle's cosine and sine, running products for values of the pass): every
// channel within 1/1024 on at least 99.9 % of the pixels, within 0.02
// everywhere.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "LiteralShaders.h"
#include "RenderHarness.h"

namespace {

using testsupport::RenderHarness;

// One picture: the parameters as the host sets them, and the clock.
struct Look {
  float fractalType = 0.5f;
  float colorMode = 0.1f;
  float mirror = 0.0f;
  float depthLayers = 0.5f;
  float branches = 0.5f;
  float complexity = 0.5f;
  float clock = 3.7f;
  float pulseAmount = 0.0f;
  float pulseSpeed = 0.5f;
  float rotation = 0.0f;
  float centerX = 0.5f;
  float centerY = 0.5f;
  int width = 61;
  int height = 37;

  std::string Describe() const {
    std::ostringstream text;
    text << "type " << fractalType << ", palette " << colorMode << ", mirror " << mirror << ", layers "
         << depthLayers << ", branches " << branches << ", complexity " << complexity << ", clock " << clock
         << ", pulse " << pulseAmount << "/" << pulseSpeed << ", rotation " << rotation << ", centre " << centerX
         << "," << centerY << ", " << width << "x" << height;
    return text.str();
  }
};

// The settled state of a look: parameters written, eased values at their
// targets, the clock where the look puts it.
void Apply(const Look& look, Tessarvander& plugin) {
  plugin.paramFractalType = look.fractalType;
  plugin.paramColorMode = look.colorMode;
  plugin.paramMirror = look.mirror;
  plugin.paramDepthLayers = look.depthLayers;
  plugin.paramBranches = look.branches;
  plugin.paramComplexity = look.complexity;
  plugin.paramPulseAmount = look.pulseAmount;
  plugin.paramPulseSpeed = look.pulseSpeed;
  plugin.paramRotation = look.rotation;
  plugin.paramCenterX = look.centerX;
  plugin.paramCenterY = look.centerY;
  plugin.paramBrightness = 0.9f;
  plugin.paramGlow = 0.7f;
  plugin.SettleEasing();
  plugin.travelClock = look.clock;
}

// The looks of one kernel, grouped: every palette with every mirror band;
// 3, 6 and 9 layers with every branch count from 4 to 20; detail 0 and 1 at
// clocks from 0 to 1e5; pulse, turn, centre and odd sizes; and host values
// beyond 0..1 (up to 11 layers, 2 and 26 branches).
std::vector<Look> LooksOf(int kernel) {
  Look base;
  base.fractalType = (static_cast<float>(kernel) + 0.5f) / 4.0f;
  std::vector<Look> looks;
  for (int palette = 0; palette < 10; ++palette) {
    for (float mirror : {0.0f, 0.2f, 0.4f, 0.6f, 0.8f}) {
      Look look = base;
      look.colorMode = (static_cast<float>(palette) + 0.5f) / 10.0f;
      look.mirror = mirror;
      looks.push_back(look);
    }
  }
  for (float layers : {0.0f, 0.5f, 1.0f}) {
    for (int count = 4; count <= 20; ++count) {
      Look look = base;
      look.depthLayers = layers;
      look.branches = (static_cast<float>(count) - 4.0f + 0.5f) / 16.0f;
      looks.push_back(look);
    }
  }
  for (float complexity : {0.0f, 1.0f}) {
    for (float clock : {0.0f, 0.41f, 77.7f, 1234.5f, 100000.0f}) {
      Look look = base;
      look.complexity = complexity;
      look.clock = clock;
      looks.push_back(look);
    }
  }
  Look pulsed = base;
  pulsed.pulseAmount = 0.8f;
  pulsed.pulseSpeed = 0.3f;
  Look turned = base;
  turned.rotation = 0.37f;
  turned.mirror = 0.45f;
  Look offCentre = base;
  offCentre.centerX = 0.2f;
  offCentre.centerY = 0.85f;
  Look odd = base;
  odd.width = 33;
  odd.height = 71;
  Look tiny = base;
  tiny.width = 7;
  tiny.height = 3;
  Look overshoot = base;
  overshoot.depthLayers = 1.4f;
  overshoot.branches = 1.4f;
  Look undershoot = base;
  undershoot.branches = -0.1f;
  undershoot.complexity = -0.2f;
  for (const Look& look : {pulsed, turned, offCentre, odd, tiny, overshoot, undershoot}) looks.push_back(look);
  return looks;
}

// A shipped and a literal instance drawing the same looks.
class SideBySide {
 public:
  SideBySide(int width, int height)
      : shipped(width, height), literal(width, height, shaders::literalVertex, shaders::literalFragment) {}
  bool Ready() const { return shipped.Ready() && literal.Ready(); }

  void Draw(const Look& look, std::vector<float>& shippedPixels, std::vector<float>& literalPixels) {
    for (RenderHarness* harness : {&shipped, &literal}) {
      Apply(look, harness->Plugin());
      ASSERT_TRUE(harness->Frame());
    }
    shippedPixels = shipped.ReadPixels();
    literalPixels = literal.ReadPixels();
  }

 private:
  RenderHarness shipped;
  RenderHarness literal;
};

struct Difference {
  int pixels = 0;
  int pixelsOffBeyond1024th = 0;
  int channelsNotIdentical = 0;
  float largest = 0.0f;
};

Difference Compare(const std::vector<float>& shipped, const std::vector<float>& literal) {
  Difference difference;
  difference.pixels = static_cast<int>(literal.size() / 4);
  for (size_t pixel = 0; pixel < literal.size() / 4; ++pixel) {
    bool off = false;
    for (size_t channel = pixel * 4; channel < pixel * 4 + 4; ++channel) {
      if (std::memcmp(&shipped[channel], &literal[channel], sizeof(float)) != 0) ++difference.channelsNotIdentical;
      const float gap = std::fabs(shipped[channel] - literal[channel]);
      if (!(gap <= 1.0f / 1024.0f)) off = true;
      if (!(gap <= difference.largest)) difference.largest = std::isnan(gap) ? INFINITY : gap;
    }
    if (off) ++difference.pixelsOffBeyond1024th;
  }
  return difference;
}

class LiteralStageTest : public testsupport::GlTest, public ::testing::WithParamInterface<int> {};

TEST_P(LiteralStageTest, ShippedStageDrawsTheLiteralPicture) {
  const int kernel = GetParam();
  const bool exact = kernel != 2;  // all but the kaleidoscope
  std::map<std::pair<int, int>, std::unique_ptr<SideBySide>> bySize;
  int compared = 0;
  for (const Look& look : LooksOf(kernel)) {
    auto& pair = bySize[{look.width, look.height}];
    if (!pair) pair = std::make_unique<SideBySide>(look.width, look.height);
    ASSERT_TRUE(pair->Ready());
    std::vector<float> shipped, literal;
    pair->Draw(look, shipped, literal);
    const Difference difference = Compare(shipped, literal);
    if (exact) {
      EXPECT_EQ(difference.channelsNotIdentical, 0) << look.Describe() << ": largest difference " << difference.largest;
    } else {
      EXPECT_LE(difference.pixelsOffBeyond1024th, difference.pixels / 1000)
          << look.Describe() << ": " << difference.pixelsOffBeyond1024th << " of " << difference.pixels
          << " pixels off by more than 1/1024";
      EXPECT_LE(difference.largest, 0.02f) << look.Describe();
    }
    ++compared;
  }
  EXPECT_GT(compared, 100);
}

std::string KernelName(const ::testing::TestParamInfo<int>& info) {
  const char* const names[] = {"Ferrofluid", "Julia", "Kaleidoscope", "Mandelbrot"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(EveryKernel, LiteralStageTest, ::testing::Values(0, 1, 2, 3), KernelName);

}  // namespace
