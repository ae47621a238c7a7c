// The upscale of `play --scale`: each filter's picture of the shipped looks,
// drawn at a fraction of 1280x720 and brought to full size, against the same
// frame drawn at full size; and each filter's cost at 1920x1080 from a
// picture of half that size. The error counter is the mean absolute
// difference of the colour channels, in 1/255; "detail" is the mean gradient
// of the upscaled picture over the full-size one's (1 keeps all the edges'
// contrast, below 1 is softer). The player ships the filter with the least
// error (render/Upscaler.h).
#include <GL/glew.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ParameterTable.h"
#include "formats/ParameterProfile.h"
#include "formats/Presets.h"
#include "render/Upscaler.h"

namespace {

constexpr int kWidth = 1280, kHeight = 720;
constexpr int kSettleFrames = 240;
const double kScales[] = {0.5, 0.35, 0.25};

using Pixels = std::vector<uint8_t>;

std::vector<std::vector<tool::ParameterValue>> ShippedLooks() {
  std::vector<std::string> files;
  if (DIR* folder = opendir(TESSARVANDER_PRESETS)) {
    while (const dirent* entry = readdir(folder)) {
      const std::string name = entry->d_name;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) files.push_back(name);
    }
    closedir(folder);
  }
  std::sort(files.begin(), files.end());
  std::vector<std::vector<tool::ParameterValue>> looks;
  for (const std::string& file : files) {
    std::vector<tool::ParameterValue> values;
    std::string error;
    if (tool::LoadPreset(std::string(TESSARVANDER_PRESETS) + "/" + file, tool::ParameterProfile::TableNames(), values,
                         error))
      looks.push_back(values);
  }
  return looks;
}

// The look's frame after kSettleFrames at one pixel, drawn at width x height:
// the same process calls at every size, so the same clock and eased values.
void DrawLook(const std::vector<tool::ParameterValue>& look, hostkit::FrameTarget& target) {
  std::string error;
  const ViewportRecord viewport{0, 0, static_cast<uint32_t>(target.Width()), static_cast<uint32_t>(target.Height())};
  auto instance = hostkit::PluginInstance::Create(*bench::Host().plugin, viewport, error);
  for (const tool::ParameterValue& value : look) instance->SetParameter(value.index, value.value);
  target.Bind();
  glViewport(0, 0, 1, 1);
  for (int frame = 0; frame < kSettleFrames; ++frame) instance->ProcessFrame();
  target.Bind();
  instance->ProcessFrame();
  glFinish();
}

struct Measure {
  double error = 0.0;
  double gradient = 0.0;
};

double Gradient(const Pixels& rgba) {
  double sum = 0.0;
  for (int y = 0; y + 1 < kHeight; ++y)
    for (int x = 0; x + 1 < kWidth; ++x)
      for (int c = 0; c < 3; ++c) {
        const size_t at = (static_cast<size_t>(y) * kWidth + x) * 4 + c;
        sum += std::abs(rgba[at + 4] - rgba[at]) + std::abs(rgba[at + kWidth * 4] - rgba[at]);
      }
  return sum;
}

Measure Compare(const Pixels& upscaled, const Pixels& full) {
  double difference = 0.0;
  for (size_t i = 0; i < full.size(); i += 4)
    for (size_t c = 0; c < 3; ++c) difference += std::abs(static_cast<int>(upscaled[i + c]) - full[i + c]);
  return {difference / (full.size() / 4 * 3), Gradient(upscaled) / std::max(1.0, Gradient(full))};
}

// Every look at full size, and at each scale, drawn once for the run.
struct Pictures {
  std::vector<Pixels> full;
  std::map<double, std::vector<std::unique_ptr<hostkit::FrameTarget>>> small;
};

Pictures& Drawn() {
  static Pictures pictures = [] {
    Pictures made;
    std::string error;
    for (const auto& look : ShippedLooks()) {
      hostkit::FrameTarget full;
      full.Create(kWidth, kHeight, hostkit::PixelFormat::Rgba8, error);
      DrawLook(look, full);
      made.full.push_back(full.ReadRgba8());
      for (double scale : kScales) {
        auto small = std::make_unique<hostkit::FrameTarget>();
        small->Create(static_cast<int>(std::lround(kWidth * scale)), static_cast<int>(std::lround(kHeight * scale)),
                      hostkit::PixelFormat::Rgba8, error);
        DrawLook(look, *small);
        made.small[scale].push_back(std::move(small));
      }
    }
    return made;
  }();
  return pictures;
}

tool::Upscaler& SharedUpscaler() {
  static tool::Upscaler* upscaler = [] {
    auto* made = new tool::Upscaler();
    std::string error;
    if (!made->Create(error)) std::fprintf(stderr, "upscaler: %s\n", error.c_str());
    return made;
  }();
  return *upscaler;
}

void BM_UpscaleError(benchmark::State& state) {
  bench::Host();
  const auto filter = static_cast<tool::UpscaleFilter>(state.range(0));
  const double scale = kScales[state.range(1)];
  Pictures& pictures = Drawn();
  std::string error;
  hostkit::FrameTarget out;
  out.Create(kWidth, kHeight, hostkit::PixelFormat::Rgba8, error);
  Measure total;
  for (auto _ : state) {
    total = Measure();
    for (size_t look = 0; look < pictures.full.size(); ++look) {
      SharedUpscaler().Draw(*pictures.small[scale][look], out, filter);
      const Measure one = Compare(out.ReadRgba8(), pictures.full[look]);
      total.error += one.error / pictures.full.size();
      total.gradient += one.gradient / pictures.full.size();
    }
  }
  state.SetLabel(std::string(tool::UpscaleFilterName(filter)) + " from " + std::to_string(static_cast<int>(scale * 100)) +
                 " %");
  state.counters["error"] = total.error;
  state.counters["detail"] = total.gradient;
}

void BM_UpscaleCost(benchmark::State& state) {
  bench::Host();
  const auto filter = static_cast<tool::UpscaleFilter>(state.range(0));
  std::string error;
  hostkit::FrameTarget small, out;
  small.Create(960, 540, hostkit::PixelFormat::Rgba8, error);
  out.Create(1920, 1080, hostkit::PixelFormat::Rgba8, error);
  DrawLook(ShippedLooks().front(), small);
  for (auto _ : state) {
    if (state.range(0) < 0) {  // the blit the player did before
      glBindFramebuffer(GL_READ_FRAMEBUFFER, small.FrameBuffer());
      glBindFramebuffer(GL_DRAW_FRAMEBUFFER, out.FrameBuffer());
      glBlitFramebuffer(0, 0, 960, 540, 0, 0, 1920, 1080, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    } else {
      SharedUpscaler().Draw(small, out, filter);
    }
    glFinish();
  }
  state.SetLabel(state.range(0) < 0 ? std::string("a linear blit, 960x540 to 1920x1080")
                                    : std::string(tool::UpscaleFilterName(filter)) + ", 960x540 to 1920x1080");
}

void ErrorArguments(benchmark::internal::Benchmark* benchmark) {
  for (tool::UpscaleFilter filter : tool::kUpscaleFilters)
    for (int scale = 0; scale < static_cast<int>(std::size(kScales)); ++scale)
      benchmark->Args({static_cast<int>(filter), scale});
}

}  // namespace

BENCHMARK(BM_UpscaleError)->Apply(ErrorArguments)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpscaleCost)->DenseRange(-1, 3)->Unit(benchmark::kMillisecond)->MinTime(1.0);
