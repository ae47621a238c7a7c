// Linux: a GLX context on the X display named by $DISPLAY, current on a
// 1x1 pbuffer (all drawing goes to frame buffers).
#include <GL/glew.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <cstdlib>

#include "hostkit/GlContextPlatform.h"

namespace hostkit {
namespace {

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
                                     kGlMajorVersion,
                                     GLX_CONTEXT_MINOR_VERSION_ARB,
                                     kGlMinorVersion,
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

}  // namespace

std::unique_ptr<GlContext> OpenGlxContext(std::string& error) { return OpenContext<GlxContext>(error); }

}  // namespace hostkit
