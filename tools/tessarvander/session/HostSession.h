// One host session: a GL context, the plugin loaded and checked the way a live
// host checks it, and the per-frame conversation with an instance (time,
// tempo, parameter values, process).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostkit/GlContext.h"
#include "formats/ParameterControls.h"
#include "hostkit/PluginLibrary.h"

namespace tool {

struct SessionOptions {
  std::string pluginPath;
  hostkit::GlBackend backend = hostkit::GlBackend::Egl;
  // An EGL device ("auto", an index or a DRM file) instead of the
  // surfaceless platform; empty for the backend alone.
  std::string device;
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

  const PluginDescription& Description() const { return description; }
  const std::vector<ParameterDescription>& Parameters() const { return parameters; }
  const hostkit::PluginLibrary& Library() const { return *library; }
  // The backend of the session's own context ("window" when the caller's).
  const char* BackendName() const { return context ? hostkit::GlBackendName(context->Backend()) : "window"; }

  // The GL renderer drawing for the session (GL_RENDERER).
  std::string Renderer() const;

  // Code 18 with a viewport of this size.
  std::unique_ptr<hostkit::PluginInstance> CreateInstance(int width, int height, std::string& error) const;

 private:
  HostSession() = default;
  // Declared first, destroyed last: the plugin goes before its context.
  std::unique_ptr<hostkit::GlContext> context;
  std::unique_ptr<hostkit::PluginLibrary> library;
  PluginDescription description;
  std::vector<ParameterDescription> parameters;
};

}  // namespace tool
