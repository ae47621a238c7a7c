#include "GlContext.h"

#include <GL/glew.h>

#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#endif

// GCC says __SANITIZE_ADDRESS__, clang __has_feature(address_sanitizer).
#if defined(__has_feature)
#if __has_feature(address_sanitizer) && !defined(__SANITIZE_ADDRESS__)
#define __SANITIZE_ADDRESS__ 1
#endif
#endif

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#include <link.h>
#endif

namespace hostkit {
namespace {

constexpr int kMajorVersion = 4;
constexpr int kMinorVersion = 1;

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's defaults for every program that makes GL contexts
// (the tool, the tests, the fuzzer, the benchmarks).
//
// intercept_tls_get_addr=0: LeakSanitizer crashed at exit ("Tracer caught
// signal 11") in about half of the tool's video renders. The cause is in the
// sanitizer runtime (GCC 12's libasan and clang 14's alike), not here: its
// __tls_get_addr interceptor records each thread's dynamic TLS blocks, and
// when a block returned by glibc happens to start 16 bytes past a 4 KiB
// boundary it assumes a glibc 2.19 header in front of it and reads the
// block's bounds from there ("glibc >=2.19 suspected" at verbosity 2). glibc
// 2.36 keeps no such header, so the bounds are whatever lies there, and the
// leak check's scan of that range faults. The block in question is the
// dynamic TLS of Mesa's swrast_dri.so, allocated through ASan's malloc at an
// address that depends on everything allocated before it (a longer output
// path was enough to flip it). Without the interceptor, dynamic TLS blocks
// are still found as heap blocks reachable from the thread's DTV, so leak
// detection stays on. See docs/reliability.md.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "intercept_tls_get_addr=0";
}

// Under AddressSanitizer: keeps the GL driver's modules loaded to the end of
// the process, so that LeakSanitizer can name them in its reports (and its
// suppressions can match them) instead of an anonymous unloaded module.
void PinDriverModules() {
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void*) {
        const char* name = info->dlpi_name;
        if (name && (std::strstr(name, "mesa") || std::strstr(name, "/dri/") || std::strstr(name, "LLVM") ||
                     std::strstr(name, "glapi") || std::strstr(name, "gallium")))
          dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        return 0;
      },
      nullptr);
}
#else
void PinDriverModules() {}
#endif

// Loads the host's own GL entry points. Under EGL, GLEW answers "no GLX
// display" after it has loaded every GL function; that answer is fine here.
bool LoadEntryPoints(std::string& error) {
  KeepGlDriverLoaded();
  GLenum answer = glewInit();
  if (answer == GLEW_OK) return true;
#if defined(GLEW_ERROR_NO_GLX_DISPLAY)
  if (answer == GLEW_ERROR_NO_GLX_DISPLAY && glGetString(GL_VERSION)) return true;
#endif
  error = std::string("GL: cannot load the GL entry points: ") +
          reinterpret_cast<const char*>(glewGetErrorString(answer));
  return false;
}

#if !defined(_WIN32)

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
                                 kMajorVersion,
                                 EGL_CONTEXT_MINOR_VERSION,
                                 kMinorVersion,
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

class GlxContext : public GlContext {
 public:
  ~GlxContext() override {
    if (!display) return;
    glXMakeContextCurrent(display, None, None, nullptr);
    if (pbuffer) glXDestroyPbuffer(display, pbuffer);
    if (context) glXDestroyContext(display, context);
    XCloseDisplay(display);
  }

  bool Open(std::string& error) {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
      error = "GLX: $DISPLAY is not set (run under an X server, e.g. xvfb-run, or use --gl egl)";
      return false;
    }
    display = XOpenDisplay(name);
    if (!display) {
      error = std::string("GLX: cannot open the X display ") + name;
      return false;
    }
    const int configAttributes[] = {GLX_DRAWABLE_TYPE, GLX_PBUFFER_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT, None};
    int configCount = 0;
    GLXFBConfig* configs = glXChooseFBConfig(display, DefaultScreen(display), configAttributes, &configCount);
    if (!configs || configCount == 0) {
      if (configs) XFree(configs);
      error = "GLX: the display offers no frame-buffer configuration with pbuffers";
      return false;
    }
    GLXFBConfig config = configs[0];
    XFree(configs);

    using CreateContextAttribs = GLXContext (*)(Display*, GLXFBConfig, GLXContext, Bool, const int*);
    auto createContext = reinterpret_cast<CreateContextAttribs>(
        glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXCreateContextAttribsARB")));
    if (!createContext) {
      error = "GLX: glXCreateContextAttribsARB is missing";
      return false;
    }
    const int contextAttributes[] = {GLX_CONTEXT_MAJOR_VERSION_ARB,
                                     kMajorVersion,
                                     GLX_CONTEXT_MINOR_VERSION_ARB,
                                     kMinorVersion,
                                     GLX_CONTEXT_PROFILE_MASK_ARB,
                                     GLX_CONTEXT_CORE_PROFILE_BIT_ARB,
                                     None};
    context = createContext(display, config, nullptr, True, contextAttributes);
    if (!context) {
      error = "GLX: cannot create an OpenGL 4.1 core context";
      return false;
    }
    // A 1x1 drawable to be current on; all drawing goes to frame buffers.
    const int pbufferAttributes[] = {GLX_PBUFFER_WIDTH, 1, GLX_PBUFFER_HEIGHT, 1, None};
    pbuffer = glXCreatePbuffer(display, config, pbufferAttributes);
    if (!MakeCurrent()) {
      error = "GLX: cannot make the context current";
      return false;
    }
    return LoadEntryPoints(error);
  }

  bool MakeCurrent() override { return glXMakeContextCurrent(display, pbuffer, pbuffer, context); }
  bool ReleaseCurrent() override { return glXMakeContextCurrent(display, None, None, nullptr); }
  GlBackend Backend() const override { return GlBackend::Glx; }

 private:
  Display* display = nullptr;
  GLXContext context = nullptr;
  GLXPbuffer pbuffer = 0;
};

#else  // _WIN32

// A hidden window gives the device context that WGL needs; a first, legacy
// context gives wglCreateContextAttribsARB, which makes the core one.
class WglContext : public GlContext {
 public:
  ~WglContext() override {
    wglMakeCurrent(nullptr, nullptr);
    if (context) wglDeleteContext(context);
    if (window && device) ReleaseDC(window, device);
    if (window) DestroyWindow(window);
  }

  bool Open(std::string& error) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TessarvanderHostGL";
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 16, 16, nullptr, nullptr,
                             windowClass.hInstance, nullptr);
    device = window ? GetDC(window) : nullptr;
    if (!device) {
      error = "WGL: cannot make a hidden window";
      return false;
    }
    PIXELFORMATDESCRIPTOR format{};
    format.nSize = sizeof format;
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    format.iPixelType = PFD_TYPE_RGBA;
    format.cColorBits = 32;
    const int chosen = ChoosePixelFormat(device, &format);
    if (!chosen || !SetPixelFormat(device, chosen, &format)) {
      error = "WGL: no OpenGL pixel format";
      return false;
    }
    HGLRC legacy = wglCreateContext(device);
    if (!legacy || !wglMakeCurrent(device, legacy)) {
      error = "WGL: cannot make an OpenGL context";
      return false;
    }
    using CreateContextAttribs = HGLRC(WINAPI*)(HDC, HGLRC, const int*);
    auto createContext =
        reinterpret_cast<CreateContextAttribs>(reinterpret_cast<void*>(wglGetProcAddress("wglCreateContextAttribsARB")));
    constexpr int kMajorVersionKey = 0x2091, kMinorVersionKey = 0x2092, kProfileKey = 0x9126, kCoreProfile = 0x1;
    const int attributes[] = {kMajorVersionKey, kMajorVersion, kMinorVersionKey, kMinorVersion,
                              kProfileKey,      kCoreProfile,  0};
    context = createContext ? createContext(device, nullptr, attributes) : nullptr;
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(legacy);
    if (!context) {
      error = "WGL: cannot create an OpenGL 4.1 core context";
      return false;
    }
    if (!MakeCurrent()) {
      error = "WGL: cannot make the context current";
      return false;
    }
    return LoadEntryPoints(error);
  }

  bool MakeCurrent() override { return wglMakeCurrent(device, context); }
  bool ReleaseCurrent() override { return wglMakeCurrent(nullptr, nullptr); }
  GlBackend Backend() const override { return GlBackend::Wgl; }

 private:
  HWND window = nullptr;
  HDC device = nullptr;
  HGLRC context = nullptr;
};

#endif  // _WIN32

#if !defined(_WIN32)
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
#endif

template <class Context>
std::unique_ptr<GlContext> OpenContext(std::string& error) {
  auto context = std::make_unique<Context>();
  if (!context->Open(error)) return nullptr;
  return context;
}

}  // namespace

void KeepGlDriverLoaded() { PinDriverModules(); }

std::unique_ptr<GlContext> GlContext::Create(GlBackend backend, std::string& error) {
#if defined(_WIN32)
  (void)backend;
  return OpenContext<WglContext>(error);
#else
  if (backend == GlBackend::Wgl) {
    error = "WGL exists on Windows only; use --gl egl or glx";
    return nullptr;
  }
  if (backend == GlBackend::Glx) return OpenContext<GlxContext>(error);
  return OpenContext<EglContext>(error);
#endif
}

#if !defined(_WIN32)
namespace {

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
#else
int ResolveEglDevice(const std::string&, std::string& error) {
  error = "--device: EGL devices exist on Linux only";
  return kNoDevice;
}

std::unique_ptr<GlContext> GlContext::CreateOnDevice(const std::string&, std::string& error) {
  error = "--device: EGL devices exist on Linux only";
  return nullptr;
}

bool ListEglDevices(std::vector<EglDevice>&, std::string& error) {
  error = "EGL devices exist on Linux only";
  return false;
}
#endif

bool ParseGlBackend(const std::string& name, GlBackend& backend) {
  if (name == "egl") {
    backend = GlBackend::Egl;
    return true;
  }
  if (name == "glx") {
    backend = GlBackend::Glx;
    return true;
  }
  if (name == "wgl") {
    backend = GlBackend::Wgl;
    return true;
  }
  return false;
}

const char* GlBackendName(GlBackend backend) {
  switch (backend) {
    case GlBackend::Glx:
      return "glx";
    case GlBackend::Wgl:
      return "wgl";
    default:
      return "egl";
  }
}

}  // namespace hostkit
