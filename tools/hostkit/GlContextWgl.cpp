// Windows: a WGL context on a hidden window. EGL devices do not exist here.
#include <GL/glew.h>
#include <windows.h>

#include "hostkit/GlContextPlatform.h"

namespace hostkit {
namespace {

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
    const int attributes[] = {kMajorVersionKey, kGlMajorVersion, kMinorVersionKey, kGlMinorVersion,
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

}  // namespace

std::unique_ptr<GlContext> OpenPlatformContext(GlBackend, std::string& error) {
  return OpenContext<WglContext>(error);
}

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
}  // namespace hostkit
