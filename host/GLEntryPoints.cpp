#include "GLEntryPoints.h"

#include <GL/glew.h>

#include <mutex>

namespace {

std::once_flag glewAttempted;
bool glewReady = false;  // written once, inside the call_once, read after it

// glGetString is a GL 1.1 function from the system library; without a
// current context it answers null.
bool ContextIsCurrent() { return glGetString(GL_VERSION) != nullptr; }

// GLEW on Linux loads every GL entry point and then initialises its GLX
// extensions; under an EGL context (headless renderers, Wayland desktops)
// there is no GLX display and glewInit answers GLEW_ERROR_NO_GLX_DISPLAY,
// although the GL functions are all loaded. That one answer counts as ready
// when a context is current.
bool IsReady(GLenum glewAnswer) {
  if (glewAnswer == GLEW_OK) return true;
#if defined(__linux__) && defined(GLEW_ERROR_NO_GLX_DISPLAY)
  if (glewAnswer == GLEW_ERROR_NO_GLX_DISPLAY) return ContextIsCurrent();
#endif
  return false;
}

}  // namespace

bool LoadGLEntryPointsOnce() {
  if (!ContextIsCurrent()) return false;
  std::call_once(glewAttempted, [] { glewReady = IsReady(glewInit()); });
  return glewReady;
}
