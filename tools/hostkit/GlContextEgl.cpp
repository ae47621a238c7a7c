// Linux: EGL contexts, on Mesa's surfaceless platform (no display server
// needed) or on an enumerated device (a GPU, or Mesa's software renderer);
// and the choice between EGL and GLX.
#include <GL/glew.h>
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <vector>

#include "hostkit/GlContext.h"
#include "hostkit/GlContextPlatform.h"

namespace hostkit {

std::unique_ptr<GlContext> OpenGlxContext(std::string& error);  // GlContextGlx.cpp

namespace {

class EglContext : public GlContext {
 public:
  ~EglContext() override {
    if (display == EGL_NO_DISPLAY) return;
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
    eglTerminate(display);
  }

  // On Mesa's surfaceless platform, or on a device when one is given.
  bool Open(std::string& error, EGLDeviceEXT device = EGL_NO_DEVICE_EXT) {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
      error = "EGL: eglGetPlatformDisplayEXT is missing (is Mesa's libegl-mesa0 installed?)";
      return false;
    }
    display = device != EGL_NO_DEVICE_EXT ? getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, device, nullptr)
                                          : getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
      display = EGL_NO_DISPLAY;
      error = device != EGL_NO_DEVICE_EXT
                  ? "EGL: cannot open a display on the device"
                  : "EGL: cannot open the surfaceless display (is Mesa's libegl-mesa0 installed?)";
      return false;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
      error = "EGL: the display does not offer desktop OpenGL";
      return false;
    }
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                 kGlMajorVersion,
                                 EGL_CONTEXT_MINOR_VERSION,
                                 kGlMinorVersion,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                 EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                 EGL_NONE};
    context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT) {
      error = "EGL: cannot create an OpenGL 4.1 core context (no configless context support?)";
      return false;
    }
    if (!MakeCurrent()) {
      error = "EGL: cannot make the context current";
      return false;
    }
    return LoadEntryPoints(error);
  }

  bool MakeCurrent() override { return eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context); }
  bool ReleaseCurrent() override {
    return eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }
  GlBackend Backend() const override { return GlBackend::Egl; }

 private:
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
};

// The devices EGL enumerates, with their extension strings and files.
struct FoundDevice {
  EGLDeviceEXT handle;
  std::string file;
  bool software;
};

bool FindEglDevices(std::vector<FoundDevice>& found, std::string& error) {
  auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
  auto queryString = reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
  if (!queryDevices || !queryString) {
    error = "EGL: this EGL cannot enumerate devices (no EGL_EXT_device_enumeration)";
    return false;
  }
  EGLDeviceEXT devices[32];
  EGLint count = 0;
  if (!queryDevices(32, devices, &count)) {
    error = "EGL: eglQueryDevicesEXT failed";
    return false;
  }
  for (EGLint i = 0; i < count; ++i) {
    const char* extensions = queryString(devices[i], EGL_EXTENSIONS);
    const std::string names = extensions ? extensions : "";
    const char* file = names.find("EGL_EXT_device_drm") != std::string::npos
                           ? queryString(devices[i], EGL_DRM_DEVICE_FILE_EXT)
                           : nullptr;
    found.push_back({devices[i], file ? file : "", names.find("EGL_MESA_device_software") != std::string::npos});
  }
  return true;
}

// Which of the devices found `device` names (see ResolveEglDevice).
int DeviceIndex(const std::string& device, const std::vector<FoundDevice>& found, std::string& error) {
  if (device == "auto") {
    for (size_t i = 0; i < found.size(); ++i)
      if (!found[i].software) return static_cast<int>(i);
    for (size_t i = 0; i < found.size(); ++i)
      if (found[i].software) return static_cast<int>(i);
    return kSurfaceless;
  }
  if (!device.empty() && device.size() < 4 && device.find_first_not_of("0123456789") == std::string::npos &&
      std::stoul(device) < found.size())
    return std::stoi(device);
  for (size_t i = 0; i < found.size(); ++i)
    if (!found[i].file.empty() && found[i].file == device) return static_cast<int>(i);
  error = "--device: no EGL device \"" + device + "\" (" + std::to_string(found.size()) +
          " found; see tessarvander info --devices)";
  return kNoDevice;
}

}  // namespace

std::unique_ptr<GlContext> OpenPlatformContext(GlBackend backend, std::string& error) {
  if (backend == GlBackend::Wgl) {
    error = "WGL exists on Windows only; use --gl egl or glx";
    return nullptr;
  }
  if (backend == GlBackend::Glx) return OpenGlxContext(error);
  return OpenContext<EglContext>(error);
}

int ResolveEglDevice(const std::string& device, std::string& error) {
  std::vector<FoundDevice> found;
  if (!FindEglDevices(found, error)) return device == "auto" ? kSurfaceless : kNoDevice;
  return DeviceIndex(device, found, error);
}

std::unique_ptr<GlContext> GlContext::CreateOnDevice(const std::string& device, std::string& error) {
  std::vector<FoundDevice> found;
  const int index = FindEglDevices(found, error) ? DeviceIndex(device, found, error)
                                                 : device == "auto" ? kSurfaceless : kNoDevice;
  if (index == kNoDevice) return nullptr;
  if (index == kSurfaceless) return OpenContext<EglContext>(error);
  auto context = std::make_unique<EglContext>();
  if (!context->Open(error, found[static_cast<size_t>(index)].handle)) return nullptr;
  return context;
}

bool ListEglDevices(std::vector<EglDevice>& devices, std::string& error) {
  std::vector<FoundDevice> found;
  if (!FindEglDevices(found, error)) return false;
  for (size_t i = 0; i < found.size(); ++i) {
    EglDevice device;
    device.index = static_cast<int>(i);
    device.file = found[i].file;
    device.software = found[i].software;
    EglContext context;
    std::string why;
    if (context.Open(why, found[i].handle)) {
      const GLubyte* renderer = glGetString(GL_RENDERER);
      device.renderer = renderer ? reinterpret_cast<const char*>(renderer) : "";
    } else {
      device.renderer = "(" + why + ")";
    }
    devices.push_back(device);
  }
  return true;
}
}  // namespace hostkit
