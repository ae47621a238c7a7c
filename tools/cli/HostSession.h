// One host session: a GL context, the plugin loaded and checked the way a live
// host checks it, and the per-frame conversation with an instance (time,
// tempo, parameter values, process).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "GlContext.h"
#include "ParameterControls.h"
#include "PluginLibrary.h"

namespace cli {

struct SessionOptions {
  std::string pluginPath;
  hostkit::GlBackend backend = hostkit::GlBackend::Egl;
};

// The plugin built in this tree (or next to this program, in a release).
std::string DefaultPluginPath();

class HostSession {
 public:
  // Makes the context, loads the plugin, checks that it is an FFGL 2.x source
  // (codes 0 and 13), initialises it (code 34) and reads its parameters.
  static std::unique_ptr<HostSession> Open(const SessionOptions& options, std::string& error);

  const hostkit::PluginDescription& Description() const { return description; }
  const std::vector<hostkit::ParameterDescription>& Parameters() const { return parameters; }
  const hostkit::PluginLibrary& Library() const { return *library; }
  hostkit::GlBackend Backend() const { return context->Backend(); }

  // Code 18 with a viewport of this size.
  std::unique_ptr<hostkit::PluginInstance> CreateInstance(int width, int height, std::string& error) const;

 private:
  HostSession() = default;
  // Declared first, destroyed last: the plugin goes before its context.
  std::unique_ptr<hostkit::GlContext> context;
  std::unique_ptr<hostkit::PluginLibrary> library;
  hostkit::PluginDescription description;
  std::vector<hostkit::ParameterDescription> parameters;
};

// Drives an instance frame by frame as a live host does: host time (code 20)
// and tempo (code 38) every frame, changed parameter values (code 8), then
// the frame itself (code 17) into the frame buffer and viewport bound now.
class FrameDriver {
 public:
  FrameDriver(const hostkit::PluginInstance& instance, const ParameterControls& controls, double framesPerSecond);

  // `progress` runs from 0 at the first written frame to 1 at the last; it
  // sets the ramps.
  bool Process(long frameNumber, double progress);

 private:
  const hostkit::PluginInstance& instance;
  const ParameterControls& controls;
  double framesPerSecond;
  // The value last sent for each control, so only changes are sent.
  std::vector<float> sent;
  bool anythingSent = false;
};

}  // namespace cli
