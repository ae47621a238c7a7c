#include "GLEntryPoints.h"

#include <GL/glew.h>

namespace {

bool glewAttempted = false;
bool glewReady = false;

// GLEW on Linux loads every GL entry point and then initialises its GLX
// extensions; under an EGL context (headless renderers, Wayland desktops)
// there is no GLX display and glewInit answers GLEW_ERROR_NO_GLX_DISPLAY,
// although the GL functions are all loaded. That one answer counts as ready
// when a context is current.
bool IsReady(GLenum glewAnswer) {
  if (glewAnswer == GLEW_OK) return true;
#if defined(__linux__) && defined(GLEW_ERROR_NO_GLX_DISPLAY)
  if (glewAnswer == GLEW_ERROR_NO_GLX_DISPLAY) return glGetString(GL_VERSION) != nullptr;
#endif
  return false;
}

}  // namespace

bool LoadGLEntryPointsOnce() {
  if (!glewAttempted) {
    glewAttempted = true;
    glewReady = IsReady(glewInit());
  }
  return glewReady;
}
