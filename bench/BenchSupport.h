// What the benchmarks share: one headless GL context and the built plugin,
// loaded as a host loads it, for the whole run.
#pragma once

#include <memory>
#include <string>

#include "hostkit/FrameTarget.h"
#include "hostkit/GlContext.h"
#include "hostkit/PluginLibrary.h"

namespace bench {

struct BenchHost {
  std::unique_ptr<hostkit::GlContext> context;
  std::unique_ptr<hostkit::PluginLibrary> plugin;
};

// Made on first use; aborts the run with a message when it cannot be.
BenchHost& Host();

// An instance drawing `layers` layers of `kernel` (0 to 3), its eased values
// settled by frames at a 1x1 viewport into `scratch`, then one full frame into
// `target` so that the driver's compilation is behind it.
std::unique_ptr<hostkit::PluginInstance> SettledInstance(int kernel, int layers, hostkit::FrameTarget& target);

// Fractal Type and Depth Layers values that select a kernel and a layer
// count, from the plugin's parameter table.
float KernelValue(int kernel);
float LayersValue(int layers);

}  // namespace bench
