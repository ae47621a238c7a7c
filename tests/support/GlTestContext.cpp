#include "GlTestContext.h"

#include <GL/glew.h>

#include <cstdio>

namespace testsupport {

hostkit::GlContext* SharedGlContext() {
  static std::unique_ptr<hostkit::GlContext> context = [] {
    std::string error;
    auto made = hostkit::GlContext::Create(hostkit::GlBackend::Egl, error);
    if (!made) std::fprintf(stderr, "%s\n", error.c_str());
    return made;
  }();
  if (context) context->MakeCurrent();
  return context.get();
}

GlBindings CurrentBindings() {
  GlBindings bindings;
  glGetIntegerv(GL_CURRENT_PROGRAM, &bindings.program);
  glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &bindings.vertexArray);
  glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bindings.arrayBuffer);
  return bindings;
}

}  // namespace testsupport
