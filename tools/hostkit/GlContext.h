// An OpenGL 4.1 core context for playing host to the plugin without a window:
// on Linux, EGL on Mesa's surfaceless platform (no display server needed) or
// GLX on the X display named by $DISPLAY; on Windows, WGL on a hidden window.
// Either way the picture goes into an offscreen frame buffer (FrameTarget).
#pragma once

#include <memory>
#include <string>

namespace hostkit {

enum class GlBackend { Egl, Glx, Wgl };

class GlContext {
 public:
  // A new context, current on the calling thread, with the GL entry points
  // loaded; null with a one-line reason in `error` when none can be made.
  // On Windows the backend is always WGL.
  static std::unique_ptr<GlContext> Create(GlBackend backend, std::string& error);

  virtual ~GlContext() = default;
  virtual bool MakeCurrent() = 0;
  // Leaves no context current on the calling thread, so that another thread
  // may make this one current.
  virtual bool ReleaseCurrent() = 0;
  virtual GlBackend Backend() const = 0;
};

// Under AddressSanitizer, keeps the GL driver's modules loaded to the end of
// the process, so that LeakSanitizer can see what they hold; elsewhere does
// nothing. Contexts made here call it; a window's context (GLFW) should too.
void KeepGlDriverLoaded();

// "egl", "glx" or "wgl"; false for anything else.
bool ParseGlBackend(const std::string& name, GlBackend& backend);
const char* GlBackendName(GlBackend backend);

}  // namespace hostkit
