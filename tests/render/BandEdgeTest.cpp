// The bands of Fractal Type and Color Mode as the shader draws them and as a
// host names them: either side of every band edge, the picture is the one of
// the band the profile names there.
#include <gtest/gtest.h>

#include "ParameterTable.h"
#include "RenderHarness.h"

namespace {

using testsupport::RenderHarness;

class BandEdgeTest : public testsupport::GlTest {};

std::vector<float> Picture(uint32_t index, float value) {
  RenderHarness harness(48, 32);
  EXPECT_TRUE(harness.Ready());
  harness.SetSettled({{index, value}});
  EXPECT_TRUE(harness.Frame());
  return harness.ReadPixels();
}

TEST_F(BandEdgeTest, EveryEdgeDrawsTheBandItIsNamed) {
  for (const uint32_t index : {tessarvander::param::FractalType, tessarvander::param::ColorMode}) {
    const tessarvander::ParameterRow& row = tessarvander::kParameterRows[index];
    const tessarvander::Bands& bands = row.bands;
    ASSERT_GT(bands.count, 1) << row.name;
    for (int band = 1; band < bands.count; ++band) {
      const float edge = static_cast<float>(band) / bands.factor;
      for (const float value : {edge - 1e-4f, edge + 1e-4f}) {
        const int named = tessarvander::BandOf(bands, value);
        SCOPED_TRACE(std::string(row.name) + " " + std::to_string(value) + " named " + bands.names[named]);
        EXPECT_EQ(named, value < edge ? band - 1 : band);
        EXPECT_EQ(tessarvander::Meaning(row, value), bands.names[named]);
        EXPECT_EQ(Picture(index, value), Picture(index, tessarvander::BandCentre(bands, named)));
      }
    }
    // Hosts may send values beyond 0..1.
    for (const float value : {-0.3f, -0.05f, 1.02f, 1.5f}) {
      const int named = tessarvander::BandOf(bands, value);
      SCOPED_TRACE(std::string(row.name) + " " + std::to_string(value) + " named " + bands.names[named]);
      EXPECT_EQ(Picture(index, value), Picture(index, tessarvander::BandCentre(bands, named)));
    }
  }
}

// The default look is the Julia set in the Manual palette, with 6 layers and
// 12 branches, as hosts are told.
TEST_F(BandEdgeTest, DefaultsReadAsTheShaderDrawsThem) {
  const auto& rows = tessarvander::kParameterRows;
  const auto meaning = [&](uint32_t index) { return tessarvander::Meaning(rows[index], rows[index].defaultValue); };
  EXPECT_EQ(meaning(tessarvander::param::FractalType), "Julia");
  EXPECT_EQ(meaning(tessarvander::param::ColorMode), "Manual");
  EXPECT_EQ(meaning(tessarvander::param::DepthLayers), "6 layers");
  EXPECT_EQ(meaning(tessarvander::param::Branches), "12 branches");
  EXPECT_EQ(meaning(tessarvander::param::Mirror), "no fold");
  EXPECT_EQ(tessarvander::Meaning(rows[tessarvander::param::Mirror], 0.6f), "8 wedges");
  // Beyond the bands the shader draws the last one.
  EXPECT_EQ(tessarvander::Meaning(rows[tessarvander::param::FractalType], -0.3f), "Mandelbrot");
  EXPECT_EQ(tessarvander::Meaning(rows[tessarvander::param::ColorMode], 1.5f), "Monochrome");
}

}  // namespace
