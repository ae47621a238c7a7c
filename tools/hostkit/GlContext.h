// An OpenGL 4.1 core context for playing host to the plugin without a window:
// EGL on Mesa's surfaceless platform (no display server needed) or GLX on the
// X display named by $DISPLAY. Either way the picture goes into an offscreen
// frame buffer (FrameTarget), never a window.
#pragma once

#include <memory>
#include <string>

namespace hostkit {

enum class GlBackend { Egl, Glx };

class GlContext {
 public:
  // A new context, current on the calling thread, with the GL entry points
  // loaded; null with a one-line reason in `error` when none can be made.
  static std::unique_ptr<GlContext> Create(GlBackend backend, std::string& error);

  virtual ~GlContext() = default;
  virtual bool MakeCurrent() = 0;
  virtual GlBackend Backend() const = 0;
};

// "egl" or "glx"; false for anything else.
bool ParseGlBackend(const std::string& name, GlBackend& backend);
const char* GlBackendName(GlBackend backend);

}  // namespace hostkit
