// The plugin's pictures against the CPU model, pixel by pixel, on small
// floating-point frame buffers.
//
// Tolerance. The layer seed is fract(sin(n) * 43758.5): a last-bit
// difference in sin moves a seed by a few thousandths, and the kaleidoscope's
// folds turn that into lines shifted by pixels. How exact sin is belongs to
// the GPU, so the model takes the GPU's sin at the few seed arguments of each
// picture (measured by a probe shader of its own) and computes everything else
// itself. What remains are the GPU's approximations of exp, log2, pow, sin and
// cos elsewhere, and an escape-time kernel that flips one iteration where an
// orbit grazes the escape radius: on llvmpipe the worst pixel of all cases is
// 0.4 % off. So every pixel must be finite, a pixel passes when each channel
// is within 0.005 + 0.5 % of the model, and at most 1 % of the pixels (the
// grazing orbits of other GPUs) may fail that.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ParameterTable.h"
#include "RenderHarness.h"

namespace {

using testsupport::ComparePicture;
using testsupport::RenderHarness;

constexpr float kAbsoluteTolerance = 0.005f;
constexpr float kRelativeTolerance = 0.005f;
constexpr float kOutlierShare = 0.01f;

using namespace tessarvander::param;

struct PictureCase {
  std::string name;
  std::vector<std::pair<uint32_t, float>> parameters;
  float clock;
};

// Fractal type values that select kernels 0 to 3.
constexpr float kKernel[4] = {0.1f, 0.4f, 0.6f, 0.9f};

std::vector<PictureCase> Cases() {
  std::vector<PictureCase> cases;
  for (int kernel = 0; kernel < 4; ++kernel)
    cases.push_back({"kernel " + std::to_string(kernel), {{FractalType, kKernel[kernel]}, {Brightness, 0.8f}}, 1.3f});
  const float mirrorBands[] = {0.2f, 0.4f, 0.6f, 0.8f};
  for (float mirror : mirrorBands)
    cases.push_back({"mirror " + std::to_string(mirror), {{FractalType, kKernel[0]}, {Mirror, mirror}}, 2.1f});
  for (int palette = 0; palette < 10; ++palette)
    cases.push_back({"palette " + std::to_string(palette),
                     {{FractalType, kKernel[2]}, {ColorMode, (palette + 0.5f) / 9.99f}, {Hue, 0.2f}},
                     0.7f + 0.37f * palette});
  cases.push_back({"pulse", {{FractalType, kKernel[0]}, {PulseAmount, 1.0f}, {PulseSpeed, 0.3f}}, 0.9f});
  cases.push_back({"rotation", {{FractalType, kKernel[2]}, {Rotation, 0.3f}}, 1.1f});
  cases.push_back({"centre offset", {{FractalType, kKernel[0]}, {CenterX, 0.2f}, {CenterY, 0.8f}}, 1.5f});
  cases.push_back({"3 layers", {{FractalType, kKernel[2]}, {DepthLayers, 0.0f}}, 3.3f});
  cases.push_back({"9 layers", {{FractalType, kKernel[0]}, {DepthLayers, 1.0f}}, 3.3f});
  cases.push_back({"backwards", {{FractalType, kKernel[2]}, {Direction, 0.0f}}, -4.2f});
  cases.push_back({"busy", {{FractalType, kKernel[2]}, {Complexity, 1.0f}, {Branches, 1.0f}, {Thickness, 1.0f},
                            {Glow, 1.0f}, {Zoom, 0.0f}, {Saturation, 0.0f}}, 5.5f});
  cases.push_back({"julia detail", {{FractalType, kKernel[1]}, {Complexity, 1.0f}, {Zoom, 0.1f}, {Glow, 0.9f}}, 7.0f});
  cases.push_back({"mandelbrot close", {{FractalType, kKernel[3]}, {Zoom, 0.0f}, {Complexity, 0.0f}}, 2.6f});
  return cases;
}

class PictureTest : public testsupport::GlTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(PictureTest, MatchesTheModel) {
  const auto [width, height] = GetParam();
  for (const PictureCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    RenderHarness harness(width, height, testsupport::Programs::General);
    ASSERT_TRUE(harness.Ready());
    harness.SetSettled(c.parameters);
    harness.Plugin().travelClock = c.clock;
    ASSERT_TRUE(harness.Frame());
    const auto comparison =
        ComparePicture(harness.ReadPixels(), harness.Uniforms(), width, height, kAbsoluteTolerance, kRelativeTolerance);
    EXPECT_EQ(comparison.nonFinite, 0) << comparison.Describe();
    EXPECT_LE(comparison.outliers, kOutlierShare * comparison.pixels) << comparison.Describe();
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, PictureTest, ::testing::Values(std::make_pair(64, 48), std::make_pair(48, 64)),
                         [](const auto& info) {
                           return std::to_string(info.param.first) + "x" + std::to_string(info.param.second);
                         });

TEST_F(PictureTest, TheSameClockGivesTheSamePicture) {
  RenderHarness harness(64, 48, testsupport::Programs::General);
  ASSERT_TRUE(harness.Ready());
  harness.SetSettled({{FractalType, kKernel[0]}});
  harness.Plugin().travelClock = 1.0f;
  ASSERT_TRUE(harness.Frame());
  const std::vector<float> first = harness.ReadPixels();
  const float firstTime = harness.Uniform("time");
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(harness.Frame());
  EXPECT_NE(harness.ReadPixels(), first) << "the picture moves with the clock";
  harness.Plugin().travelClock = 1.0f;
  ASSERT_TRUE(harness.Frame());
  ASSERT_EQ(harness.Uniform("time"), firstTime);
  EXPECT_EQ(harness.ReadPixels(), first);
}

}  // namespace

namespace {

// No pixel may be NaN or infinite for any parameters in 0..1 and any clock:
// one such value would spread through the layer sum into the whole pixel.
TEST_F(PictureTest, EveryPixelIsFiniteForAnyParametersAndClock) {
  RenderHarness harness(48, 36, testsupport::Programs::General);
  ASSERT_TRUE(harness.Ready());
  std::mt19937 random(20261207);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const float clocks[] = {0.0f, 0.37f, 2.0f, 13.7f, -5.3f, 250.1f, -999.9f, 12345.6f, 1.0e6f};
  int frames = 0;
  for (int kernel = 0; kernel < 4; ++kernel) {
    for (int palette = 0; palette < 10; ++palette) {
      for (float clock : clocks) {
        std::vector<std::pair<uint32_t, float>> parameters;
        for (uint32_t index = 0; index < 19; ++index) parameters.push_back({index, unit(random)});
        // The extremes of the range are where the formulas are most strained.
        if (frames % 3 == 1)
          for (auto& parameter : parameters) parameter.second = unit(random) < 0.5f ? 0.0f : 1.0f;
        parameters.push_back({FractalType, (kernel + 0.5f) / 4.0f});
        parameters.push_back({ColorMode, (palette + 0.5f) / 9.99f});
        harness.SetSettled(parameters);
        harness.Plugin().travelClock = clock;
        ASSERT_TRUE(harness.Frame());
        ++frames;
        const std::vector<float> pixels = harness.ReadPixels();
        int nonFinite = 0;
        for (float value : pixels) nonFinite += std::isfinite(value) ? 0 : 1;
        ASSERT_EQ(nonFinite, 0) << "kernel " << kernel << ", palette " << palette << ", clock " << clock;
      }
    }
  }
}

}  // namespace

namespace {

// Host sliders overshoot. Each case sits on a point where a formula of the
// shader divides by zero or overflows for values outside 0..1; the picture
// must stay finite there.
TEST_F(PictureTest, OvershootingSlidersAtTheSingularPointsStayFinite) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint32_t, float>> parameters;
  };
  const std::vector<Case> cases = {
      {"glow exponent overflows", {{FractalType, kKernel[3]}, {Glow, -4.5f}, {Zoom, 8.0f}, {ColorMode, 0.25f}}},
      {"glow exponent overflows, no layer weight", {{FractalType, kKernel[3]}, {Glow, -10.0f}, {Zoom, 10.0f}}},
      {"kaleidoscope with no branch", {{FractalType, kKernel[2]}, {Branches, -0.2f}}},
      {"julia with no iteration", {{FractalType, kKernel[1]}, {Complexity, -1.95f}}},
      {"mandelbrot with no iteration", {{FractalType, kKernel[3]}, {Complexity, -3.4f}}},
  };
  RenderHarness harness(48, 36, testsupport::Programs::General);
  ASSERT_TRUE(harness.Ready());
  for (const Case& c : cases) {
    for (float clock : {0.3f, 1.7f, 4.4f}) {
      harness.SetSettled(c.parameters);
      harness.Plugin().travelClock = clock;
      ASSERT_TRUE(harness.Frame());
      int nonFinite = 0;
      for (float value : harness.ReadPixels()) nonFinite += std::isfinite(value) ? 0 : 1;
      EXPECT_EQ(nonFinite, 0) << c.name << " at clock " << clock;
    }
  }
}

}  // namespace
