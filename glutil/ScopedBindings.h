// Scope guards for the GL bindings the plugin makes inside the host's context.
//
// Each binds on construction and binds 0 when its scope ends, by any path. They
// restore 0, not what the host had bound: the plugin's contract with its host is
// that the current program, the vertex-array binding and the array-buffer
// binding are 0 after every call.
#pragma once

#include <GL/glew.h>

namespace ffglex {

class ScopedBufferBinding {
 public:
  ScopedBufferBinding(GLenum target, GLuint buffer) : target(target) {
    bound = true;
    glBindBuffer(target, buffer);
  }
  virtual ~ScopedBufferBinding() { EndScope(); }

  ScopedBufferBinding(const ScopedBufferBinding&) = delete;
  ScopedBufferBinding& operator=(const ScopedBufferBinding&) = delete;

  void EndScope() {
    if (!bound) return;
    glBindBuffer(target, 0);
    bound = false;
  }

 private:
  GLenum target;
  bool bound = false;
};

class ScopedVBOBinding : public ScopedBufferBinding {
 public:
  explicit ScopedVBOBinding(GLuint buffer) : ScopedBufferBinding(GL_ARRAY_BUFFER, buffer) {}
};

class ScopedVAOBinding {
 public:
  explicit ScopedVAOBinding(GLuint vertexArray) {
    bound = true;
    glBindVertexArray(vertexArray);
  }
  ~ScopedVAOBinding() { EndScope(); }

  ScopedVAOBinding(const ScopedVAOBinding&) = delete;
  ScopedVAOBinding& operator=(const ScopedVAOBinding&) = delete;

  void EndScope() {
    if (!bound) return;
    glBindVertexArray(0);
    bound = false;
  }

 private:
  bool bound = false;
};

class ScopedShaderBinding {
 public:
  explicit ScopedShaderBinding(GLuint program) {
    bound = true;
    glUseProgram(program);
  }
  ~ScopedShaderBinding() { EndScope(); }

  ScopedShaderBinding(const ScopedShaderBinding&) = delete;
  ScopedShaderBinding& operator=(const ScopedShaderBinding&) = delete;

  void EndScope() {
    if (!bound) return;
    glUseProgram(0);
    bound = false;
  }

 private:
  bool bound = false;
};

}  // namespace ffglex
