// The plugin's own costs: drawing a frame, the host-side work of a process
// call, and creating and destroying an instance. All on Mesa's llvmpipe, where
// the draw runs on the CPU; times are wall-clock, since llvmpipe draws on
// threads of its own (GL timer queries do not see its rasterisation).
#include <GL/glew.h>
#include <benchmark/benchmark.h>

#include <chrono>

#include "BenchSupport.h"
#include "ScreenQuad.h"
#include "ShaderProgram.h"
#include "ShaderSources.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// One frame, bounded by glFinish: kernel x layers x height (16:9).
void BM_Draw(benchmark::State& state) {
  const int kernel = static_cast<int>(state.range(0));
  const int layers = static_cast<int>(state.range(1));
  const int height = static_cast<int>(state.range(2));
  const int width = height * 16 / 9;
  bench::Host();
  hostkit::FrameTarget target;
  std::string error;
  if (!target.Create(width, height, hostkit::PixelFormat::Rgba8, error)) state.SkipWithError(error.c_str());
  auto instance = bench::SettledInstance(kernel, layers, target);
  for (auto _ : state) {
    target.Bind();
    instance->ProcessFrame();
    glFinish();
  }
  state.counters["pixel_layer"] = benchmark::Counter(static_cast<double>(width) * height * layers,
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}
BENCHMARK(BM_Draw)
    ->ArgNames({"kernel", "layers", "height"})
    ->ArgsProduct({{0, 1, 2, 3}, {3, 6, 9}, {360, 720, 1080}})
    // The player's cue preview: 192x108.
    ->Args({0, 6, 108})->Args({1, 6, 108})->Args({2, 6, 108})->Args({3, 6, 108})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);

// The time inside plugMain for one process call with the draw queued, not
// waited for (the host's render thread pays this; the GPU pays the draw).
void BM_ProcessCall(benchmark::State& state) {
  bench::Host();
  hostkit::FrameTarget target;
  std::string error;
  target.Create(1280, 720, hostkit::PixelFormat::Rgba8, error);
  auto instance = bench::SettledInstance(1, 6, target);
  for (auto _ : state) {
    target.Bind();
    const auto start = Clock::now();
    instance->ProcessFrame();
    state.SetIterationTime(Seconds(start));
    glFinish();
  }
}
BENCHMARK(BM_ProcessCall)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(60);

// The 21 uniform look-ups by name that every process call makes, on a program
// built from the plugin's own shader text.
void BM_UniformLookups(benchmark::State& state) {
  bench::Host();
  ffglex::ShaderProgram program;
  program.CompileVertexShader(shaders::tessarvanderVertex);
  program.CompileFragmentShader(shaders::tessarvanderFragment);
  program.Link();
  const char* names[] = {"time",       "speed",     "travelDirection", "zoom",        "complexity", "branches",
                         "thickness",  "glowAmount", "colorMode",      "manualHue",   "saturation", "brightness",
                         "rotation",   "centerX",   "centerY",         "crystalType", "pulseAmount", "pulseSpeed",
                         "depthLayers", "mirrorMode", "resolution"};
  for (auto _ : state)
    for (const char* name : names) benchmark::DoNotOptimize(glGetUniformLocation(program.program, name));
  program.Release();
}
BENCHMARK(BM_UniformLookups)->Unit(benchmark::kMicrosecond);

// Code 18: compile, link and quad. A host stalls its render thread this long
// when a clip with the plugin is started.
void BM_CreateInstance(benchmark::State& state) {
  const ViewportRecord viewport{0, 0, 1280, 720};
  std::string error;
  for (auto _ : state) {
    const auto start = Clock::now();
    auto instance = hostkit::PluginInstance::Create(*bench::Host().plugin, viewport, error);
    state.SetIterationTime(Seconds(start));
    instance.reset();
    glFinish();
  }
}
BENCHMARK(BM_CreateInstance)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// The first frame of a new instance, when the driver compiles the shader to
// machine code, against the frames after it (BM_Draw).
void BM_FirstFrame(benchmark::State& state) {
  const ViewportRecord viewport{0, 0, 1280, 720};
  bench::Host();
  hostkit::FrameTarget target;
  std::string error;
  target.Create(1280, 720, hostkit::PixelFormat::Rgba8, error);
  for (auto _ : state) {
    auto instance = hostkit::PluginInstance::Create(*bench::Host().plugin, viewport, error);
    target.Bind();
    const auto start = Clock::now();
    instance->ProcessFrame();
    glFinish();
    state.SetIterationTime(Seconds(start));
  }
}
BENCHMARK(BM_FirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// Code 19, right after a frame.
void BM_DestroyInstance(benchmark::State& state) {
  const ViewportRecord viewport{0, 0, 1280, 720};
  bench::Host();
  hostkit::FrameTarget target;
  std::string error;
  target.Create(64, 36, hostkit::PixelFormat::Rgba8, error);
  for (auto _ : state) {
    auto instance = hostkit::PluginInstance::Create(*bench::Host().plugin, viewport, error);
    target.Bind();
    instance->ProcessFrame();
    const auto start = Clock::now();
    instance.reset();
    state.SetIterationTime(Seconds(start));
    glFinish();
  }
}
BENCHMARK(BM_DestroyInstance)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
