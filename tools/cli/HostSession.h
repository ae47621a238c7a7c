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
  // False: the caller has made a context current (a window's), and the
  // session uses that one.
  bool makeContext = true;
};

// The plugin built in this tree (or next to this program, in a release).
std::string DefaultPluginPath();

class HostSession {
 public:
  // Makes the context (unless told not to), loads the plugin, checks that it
  // is an FFGL 2.x source (codes 0 and 13), initialises it (code 34) and
  // reads its parameters.
  static std::unique_ptr<HostSession> Open(const SessionOptions& options, std::string& error);

  const hostkit::PluginDescription& Description() const { return description; }
  const std::vector<hostkit::ParameterDescription>& Parameters() const { return parameters; }
  const hostkit::PluginLibrary& Library() const { return *library; }
  // The backend of the session's own context ("window" when the caller's).
  const char* BackendName() const { return context ? hostkit::GlBackendName(context->Backend()) : "window"; }

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
  FrameDriver(const hostkit::PluginInstance& instance, double framesPerSecond);

  // The tempo and bar phase told with the next frames; until set, 120 beats
  // a minute with bars from frame 0.
  void SetBeat(float beatsPerMinute, float barPhase);
  // Frame `frameNumber` (its host time is frameNumber / fps) with these
  // values; only the ones that changed since the last frame are sent.
  bool Process(long frameNumber, const std::vector<ParameterControls::Value>& values);

 private:
  const hostkit::PluginInstance& instance;
  double framesPerSecond;
  bool beatSet = false;
  float beatsPerMinute = 120.0f;
  float barPhase = 0.0f;
  // The value last sent for each parameter index (NaN: never), so only
  // changes are sent.
  std::vector<float> sent;
};

}  // namespace cli
