// The shader stages as first written (the literal reference of the tests),
// the per-kernel programs as they shipped before the per-layer table
// (bench/previous), and the stages that ship now: the program per kernel and
// the general program that draws every kernel. Side by side in one program:
// the same instance class, the same settled parameters and clock, only the
// programs differ. Run with repetitions interleaved at random, so that
// background load falls on all alike.
#include <GL/glew.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "LiteralShaders.h"
#include "PreviousShaders.h"
#include "ShaderSources.h"
#include "Tessarvander.h"

namespace {

enum Stage { kLiteral = 0, kPrevious = 1, kGeneral = 2, kPerKernel = 3 };

const char frameRecord[32] = {};
const ProcessRecord* const kFrameRecord = reinterpret_cast<const ProcessRecord*>(frameRecord);

// Where every draw stands: ten units into the flight.
constexpr float kClock = 10.0f;

std::unique_ptr<Tessarvander> MakeInstance(Stage stage, const hostkit::FrameTarget& target) {
  auto plugin = std::make_unique<Tessarvander>();
  if (stage == kLiteral || stage == kPrevious) {
    plugin->vertexSource = stage == kLiteral ? shaders::literalVertex : shaders::previousVertex;
    plugin->fragmentSource = stage == kLiteral ? shaders::literalFragment : shaders::previousFragment;
    plugin->layerSource = nullptr;
  }
  plugin->specialiseKernels = stage == kPerKernel || stage == kPrevious;
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

// Looks off the grid's defaults, at 6 layers: the cases that gained least
// from the per-kernel programs, and each kernel's dearest settings.
struct ExtraLook {
  int kernel;
  float colorMode, branches, complexity, mirror;
};
constexpr ExtraLook kExtraLooks[] = {
    {2, 0.55f, 0.5f, 1.0f, 0.0f},   // kaleidoscope, Nebula, complexity 1
    {0, 0.35f, 0.0f, 0.5f, 0.0f},   // ferrofluid, Rainbow Radial, 4 branches
    {0, 0.45f, 1.0f, 0.5f, 0.5f},   // ferrofluid, Rainbow Depth, 20 branches, mirror
    {1, 0.85f, 0.5f, 1.0f, 0.0f},   // Julia, Synthwave, complexity 1
    {3, 0.65f, 0.5f, 1.0f, 0.7f},   // Mandelbrot, Gold, complexity 1, mirror
};

void SettleLook(Tessarvander& plugin, const ExtraLook& look) {
  plugin.paramColorMode = look.colorMode;
  plugin.paramBranches = look.branches;
  plugin.paramComplexity = look.complexity;
  plugin.paramMirror = look.mirror;
  Settle(plugin, look.kernel, 6);
}

// The settled frame, bounded by glFinish, timed by the benchmark.
void DrawFrames(benchmark::State& state, Tessarvander& plugin, hostkit::FrameTarget& target) {
  for (int warmUp = 0; warmUp < 2; ++warmUp) {
    target.Bind();
    plugin.travelClock = kClock;
    plugin.ProcessFrame(kFrameRecord);
  }
  glFinish();
  for (auto _ : state) {
    target.Bind();
    plugin.travelClock = kClock;
    plugin.ProcessFrame(kFrameRecord);
    glFinish();
  }
  plugin.DeinitialiseGL();
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
  DrawFrames(state, *plugin, target);
}
BENCHMARK(BM_Stage)
    ->ArgNames({"stage", "kernel", "layers", "height"})
    ->ArgsProduct({{kLiteral, kPrevious, kGeneral, kPerKernel}, {0, 1, 2, 3}, {3, 6, 9}, {720}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);

// One of the extra looks at 720p: stage x look.
void BM_StageLook(benchmark::State& state) {
  const Stage stage = static_cast<Stage>(state.range(0));
  bench::Host();
  hostkit::FrameTarget target;
  std::string error;
  if (!target.Create(1280, 720, hostkit::PixelFormat::Rgba8, error)) state.SkipWithError(error.c_str());
  auto plugin = MakeInstance(stage, target);
  if (!plugin) {
    state.SkipWithError("the stages did not build");
    return;
  }
  SettleLook(*plugin, kExtraLooks[state.range(1)]);
  DrawFrames(state, *plugin, target);
}
BENCHMARK(BM_StageLook)
    ->ArgNames({"stage", "look"})
    ->ArgsProduct({{kLiteral, kPrevious, kGeneral, kPerKernel}, {0, 1, 2, 3, 4}})
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
    ->Arg(kPrevious)
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
