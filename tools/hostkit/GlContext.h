// An OpenGL 4.1 core context for playing host to the plugin without a window:
// on Linux, EGL on Mesa's surfaceless platform (no display server needed) or
// GLX on the X display named by $DISPLAY; on Windows, WGL on a hidden window.
// Either way the picture goes into an offscreen frame buffer (FrameTarget).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace hostkit {

enum class GlBackend { Egl, Glx, Wgl };

// An EGL device (EGL_EXT_device_enumeration): a GPU, or Mesa's software
// renderer, usable with no display at all (the headless path of NVIDIA's
// driver and of Mesa).
struct EglDevice {
  int index = 0;
  std::string file;      // its DRM device file, when it has one
  bool software = false; // Mesa's software device
  std::string renderer;  // GL_RENDERER of a context on it, or why none
};

class GlContext {
 public:
  // A new context, current on the calling thread, with the GL entry points
  // loaded; null with a one-line reason in `error` when none can be made.
  // On Windows the backend is always WGL.
  static std::unique_ptr<GlContext> Create(GlBackend backend, std::string& error);
  // An EGL context on a device: "auto" (a hardware device first, then
  // Mesa's software device, then the surfaceless platform), an index of
  // ListEglDevices, or a DRM device file. Null with one line for no such
  // device.
  static std::unique_ptr<GlContext> CreateOnDevice(const std::string& device, std::string& error);

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

// Which device a --device text names: an index of ListEglDevices,
// kSurfaceless (auto, with no device to take), or kNoDevice with one line.
constexpr int kSurfaceless = -1;
constexpr int kNoDevice = -2;
int ResolveEglDevice(const std::string& device, std::string& error);

// The EGL devices, each with the renderer a context on it reports. False
// with a reason when EGL cannot enumerate devices.
bool ListEglDevices(std::vector<EglDevice>& devices, std::string& error);

// "egl", "glx" or "wgl"; false for anything else.
bool ParseGlBackend(const std::string& name, GlBackend& backend);
const char* GlBackendName(GlBackend backend);

}  // namespace hostkit
