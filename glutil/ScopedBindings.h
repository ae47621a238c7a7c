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

// The guards below are for state a host may use itself (transform feedback,
// indexed uniform buffers, the rasterizer's discard): they put back what was
// there before, as a polite guest does, not 0.

// A transform feedback object bound for the scope.
class ScopedTransformFeedbackBinding {
 public:
  explicit ScopedTransformFeedbackBinding(GLuint feedback) {
    glGetIntegerv(GL_TRANSFORM_FEEDBACK_BINDING, &previous);
    glBindTransformFeedback(GL_TRANSFORM_FEEDBACK, feedback);
  }
  ~ScopedTransformFeedbackBinding() { glBindTransformFeedback(GL_TRANSFORM_FEEDBACK, static_cast<GLuint>(previous)); }
  ScopedTransformFeedbackBinding(const ScopedTransformFeedbackBinding&) = delete;
  ScopedTransformFeedbackBinding& operator=(const ScopedTransformFeedbackBinding&) = delete;

 private:
  GLint previous = 0;
};

// A buffer bound whole to an indexed binding point of `target` (uniform
// buffers, transform feedback buffers) for the scope; the point's range and
// the target's general binding are put back after.
class ScopedIndexedBufferBinding {
 public:
  ScopedIndexedBufferBinding(GLenum target, GLuint index, GLuint buffer) : target(target), index(index) {
    const bool uniform = target == GL_UNIFORM_BUFFER;
    glGetIntegerv(uniform ? GL_UNIFORM_BUFFER_BINDING : GL_TRANSFORM_FEEDBACK_BUFFER_BINDING, &general);
    glGetIntegeri_v(uniform ? GL_UNIFORM_BUFFER_BINDING : GL_TRANSFORM_FEEDBACK_BUFFER_BINDING, index, &previous);
    glGetInteger64i_v(uniform ? GL_UNIFORM_BUFFER_START : GL_TRANSFORM_FEEDBACK_BUFFER_START, index, &start);
    glGetInteger64i_v(uniform ? GL_UNIFORM_BUFFER_SIZE : GL_TRANSFORM_FEEDBACK_BUFFER_SIZE, index, &size);
    glBindBufferBase(target, index, buffer);
  }
  ~ScopedIndexedBufferBinding() {
    if (previous != 0 && size > 0)
      glBindBufferRange(target, index, static_cast<GLuint>(previous), static_cast<GLintptr>(start),
                        static_cast<GLsizeiptr>(size));
    else
      glBindBufferBase(target, index, static_cast<GLuint>(previous));
    glBindBuffer(target, static_cast<GLuint>(general));
  }
  ScopedIndexedBufferBinding(const ScopedIndexedBufferBinding&) = delete;
  ScopedIndexedBufferBinding& operator=(const ScopedIndexedBufferBinding&) = delete;

 private:
  GLenum target;
  GLuint index;
  GLint general = 0, previous = 0;
  GLint64 start = 0, size = 0;
};

// A capability (GL_RASTERIZER_DISCARD) on for the scope, as it was after.
class ScopedCapability {
 public:
  explicit ScopedCapability(GLenum capability) : capability(capability), wasOn(glIsEnabled(capability)) {
    glEnable(capability);
  }
  ~ScopedCapability() {
    if (!wasOn) glDisable(capability);
  }
  ScopedCapability(const ScopedCapability&) = delete;
  ScopedCapability& operator=(const ScopedCapability&) = delete;

 private:
  GLenum capability;
  GLboolean wasOn;
};

}  // namespace ffglex
