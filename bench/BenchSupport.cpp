#include "BenchSupport.h"

#include <GL/glew.h>

#include <cstdio>
#include <cstdlib>

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

uint32_t ParameterIndex(const std::string& name) {
  for (const hostkit::ParameterDescription& parameter : Host().plugin->ReadParameters())
    if (parameter.name == name) return parameter.index;
  std::fprintf(stderr, "benchmark set-up: the plugin has no parameter \"%s\"\n", name.c_str());
  std::exit(1);
}

float KernelValue(int kernel) { return (static_cast<float>(kernel) + 0.5f) / 4.0f; }

float LayersValue(int layers) { return static_cast<float>(layers - 3) / 6.0f; }

std::unique_ptr<hostkit::PluginInstance> SettledInstance(int kernel, int layers, hostkit::FrameTarget& target) {
  std::string error;
  const ViewportRecord viewport{0, 0, static_cast<uint32_t>(target.Width()), static_cast<uint32_t>(target.Height())};
  auto instance = hostkit::PluginInstance::Create(*Host().plugin, viewport, error);
  if (!instance) {
    std::fprintf(stderr, "benchmark set-up: %s\n", error.c_str());
    std::exit(1);
  }
  instance->SetParameter(ParameterIndex("Fractal Type"), KernelValue(kernel));
  instance->SetParameter(ParameterIndex("Depth Layers"), LayersValue(layers));
  target.Bind();
  glViewport(0, 0, 1, 1);
  for (int frame = 0; frame < 600; ++frame) instance->ProcessFrame();
  target.Bind();
  instance->ProcessFrame();
  glFinish();
  return instance;
}

}  // namespace bench
