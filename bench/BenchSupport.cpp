#include "BenchSupport.h"

#include <GL/glew.h>

#include <cstdio>
#include <cstdlib>

#include "ParameterTable.h"

namespace bench {

BenchHost& Host() {
  static BenchHost host = [] {
    BenchHost made;
    std::string error;
    made.context = hostkit::GlContext::Create(hostkit::GlBackend::Egl, error);
    if (made.context) made.plugin = hostkit::PluginLibrary::Open(TESSARVANDER_BUILT_PLUGIN, error);
    if (!made.context || !made.plugin) {
      std::fprintf(stderr, "benchmark set-up: %s\n", error.c_str());
      std::exit(1);
    }
    return made;
  }();
  return host;
}

float KernelValue(int kernel) {
  return tessarvander::BandCentre(tessarvander::kParameterRows[tessarvander::param::FractalType].bands, kernel);
}

float LayersValue(int layers) {
  const tessarvander::Units& count = tessarvander::kParameterRows[tessarvander::param::DepthLayers].units;
  return static_cast<float>(layers - count.offset) / count.factor;
}

std::unique_ptr<hostkit::PluginInstance> SettledInstance(int kernel, int layers, hostkit::FrameTarget& target) {
  std::string error;
  const ViewportRecord viewport{0, 0, static_cast<uint32_t>(target.Width()), static_cast<uint32_t>(target.Height())};
  auto instance = hostkit::PluginInstance::Create(*Host().plugin, viewport, error);
  if (!instance) {
    std::fprintf(stderr, "benchmark set-up: %s\n", error.c_str());
    std::exit(1);
  }
  instance->SetParameter(tessarvander::param::FractalType, KernelValue(kernel));
  instance->SetParameter(tessarvander::param::DepthLayers, LayersValue(layers));
  target.Bind();
  glViewport(0, 0, 1, 1);
  for (int frame = 0; frame < 600; ++frame) instance->ProcessFrame();
  target.Bind();
  instance->ProcessFrame();
  glFinish();
  return instance;
}

}  // namespace bench
