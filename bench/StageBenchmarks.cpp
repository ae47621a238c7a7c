// The shader stages as first written (the literal reference of the tests),
// the general program that draws every kernel (shipped until the programs
// were split by kernel), and the program per kernel that ships now, side by
// side in one program: the same instance class, the same settled parameters
// and clock, only the programs differ. Run with repetitions interleaved at
// random, so that background load falls on all alike.
#include <GL/glew.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "LiteralShaders.h"
#include "ShaderSources.h"
#include "Tessarvander.h"

namespace {

// The last stage is an experiment, not shipped: the per-kernel program with
// the palette fixed too (the default one, Manual), to see what specialising
// the palettes would gain.
enum Stage { kLiteral = 0, kGeneral = 1, kPerKernel = 2, kPerKernelAndPalette = 3 };

// The fragment stage with the palette chosen at build time.
const char* FixedPaletteFragment() {
  static const std::string text = [] {
    std::string source = shaders::tessarvanderFragment;
    const std::string chosen = "int colorModeInt = colorModeBand();";
    const size_t at = source.find(chosen);
    if (at != std::string::npos) source.replace(at, chosen.size(), "int colorModeInt = 0;");
    return source;
  }();
  return text.c_str();
}

const char frameRecord[32] = {};
const ProcessRecord* const kFrameRecord = reinterpret_cast<const ProcessRecord*>(frameRecord);

// Where every draw stands: ten units into the flight.
constexpr float kClock = 10.0f;

std::unique_ptr<Tessarvander> MakeInstance(Stage stage, const hostkit::FrameTarget& target) {
  auto plugin = std::make_unique<Tessarvander>();
  if (stage == kLiteral) {
    plugin->vertexSource = shaders::literalVertex;
    plugin->fragmentSource = shaders::literalFragment;
  }
  if (stage == kPerKernelAndPalette) plugin->fragmentSource = FixedPaletteFragment();
  plugin->specialiseKernels = stage == kPerKernel || stage == kPerKernelAndPalette;
  const ViewportRecord viewport{0, 0, static_cast<uint32_t>(target.Width()), static_cast<uint32_t>(target.Height())};
  if (plugin->InitialiseGL(&viewport) != FF_SUCCESS) return nullptr;
  return plugin;
}

// The kernel and layer count asked, every other parameter at its default,
// the eased values at their targets.
void Settle(Tessarvander& plugin, int kernel, int layers) {
  plugin.paramFractalType = bench::KernelValue(kernel);
  plugin.paramDepthLayers = bench::LayersValue(layers);
  plugin.SettleEasing();
}

// One frame bounded by glFinish: stage x kernel x layers x height (16:9).
void BM_Stage(benchmark::State& state) {
  const Stage stage = static_cast<Stage>(state.range(0));
  const int kernel = static_cast<int>(state.range(1));
  const int layers = static_cast<int>(state.range(2));
  const int height = static_cast<int>(state.range(3));
  bench::Host();
  hostkit::FrameTarget target;
  std::string error;
  if (!target.Create(height * 16 / 9, height, hostkit::PixelFormat::Rgba8, error)) state.SkipWithError(error.c_str());
  auto plugin = MakeInstance(stage, target);
  if (!plugin) {
    state.SkipWithError("the stages did not build");
    return;
  }
  Settle(*plugin, kernel, layers);
  for (int warmUp = 0; warmUp < 2; ++warmUp) {
    target.Bind();
    plugin->travelClock = kClock;
    plugin->ProcessFrame(kFrameRecord);
  }
  glFinish();
  for (auto _ : state) {
    target.Bind();
    plugin->travelClock = kClock;
    plugin->ProcessFrame(kFrameRecord);
    glFinish();
  }
  plugin->DeinitialiseGL();
}
BENCHMARK(BM_Stage)
    ->ArgNames({"stage", "kernel", "layers", "height"})
    ->ArgsProduct({{kLiteral, kGeneral, kPerKernel, kPerKernelAndPalette}, {0, 1, 2, 3}, {3, 6, 9}, {720}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);

// What a host waits for when a clip starts: compiling and linking the stages
// (code 18; every kernel's program for the per-kernel stage) and the first
// 720p frame, in which the driver compiles them to machine code.
void BM_CompileAndFirstFrame(benchmark::State& state) {
  const Stage stage = static_cast<Stage>(state.range(0));
  bench::Host();
  hostkit::FrameTarget target;
  std::string error;
  target.Create(1280, 720, hostkit::PixelFormat::Rgba8, error);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto plugin = MakeInstance(stage, target);
    if (!plugin) {
      state.SkipWithError("the stages did not build");
      return;
    }
    target.Bind();
    plugin->ProcessFrame(kFrameRecord);
    glFinish();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    plugin->DeinitialiseGL();
  }
}
BENCHMARK(BM_CompileAndFirstFrame)
    ->ArgNames({"stage"})
    ->Arg(kLiteral)
    ->Arg(kGeneral)
    ->Arg(kPerKernel)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace

namespace {

// A live switch of Fractal Type: the first frame in the new kernel, against
// the dearer of the two kernels' settled frames (reported as a counter).
void BM_KernelSwitch(benchmark::State& state) {
  const int from = static_cast<int>(state.range(0));
  const int to = static_cast<int>(state.range(1));
  bench::Host();
  hostkit::FrameTarget target;
  std::string error;
  target.Create(1280, 720, hostkit::PixelFormat::Rgba8, error);
  const auto frameMs = [&](Tessarvander& plugin) {
    const auto start = std::chrono::steady_clock::now();
    target.Bind();
    plugin.travelClock = kClock;
    plugin.ProcessFrame(kFrameRecord);
    glFinish();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  };
  double dearer = 0.0, switched = 0.0;
  for (auto _ : state) {
    // A new instance that has drawn only `from`; then `to` for the first
    // time, and again once settled.
    auto plugin = MakeInstance(kPerKernel, target);
    Settle(*plugin, from, 6);
    frameMs(*plugin);
    const double settledFrom = frameMs(*plugin);
    Settle(*plugin, to, 6);
    switched = frameMs(*plugin);
    frameMs(*plugin);
    const double settledTo = frameMs(*plugin);
    dearer = std::max(settledFrom, settledTo);
    state.SetIterationTime(switched / 1e3);
    plugin->DeinitialiseGL();
  }
  state.counters["dearer_ms"] = dearer;
  state.counters["switch_ms"] = switched;
}
BENCHMARK(BM_KernelSwitch)
    ->ArgNames({"from", "to"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2, 3}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
