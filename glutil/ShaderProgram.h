// ShaderProgram: compiles a vertex and a fragment stage and links them into
// one program, keeping the three GL names (0 meaning none).
//
// Every call needs the owning GL context current. A failed compile or link
// writes one diagnostic, "Vertex Shader error: " or "Fragment Shader error: "
// followed by the driver's log, to the debugger output (standard error where
// the platform has none) and to standard output. Names made so far are kept
// until Release; the destructor deletes nothing.
#pragma once

#include <GL/glew.h>

namespace ffglex {

class ShaderProgram {
 public:
  bool CompileVertexShader(const char* source);
  bool CompileFragmentShader(const char* source);
  // The vertex stage's outputs that the next Link captures by transform
  // feedback, interleaved in this order (a program may then have no
  // fragment stage). The names must outlive the Link.
  void CaptureOutputs(const char* const* names, int count) {
    capturedOutputs = names;
    capturedCount = count;
  }
  // Attaches the compiled stages and links. A failed link is reported with the
  // fragment prefix.
  bool Link();
  // Deletes the vertex shader, the fragment shader and the program, each only
  // if named, and zeroes the names: a second Release makes no GL call.
  void Release();

  static void ReportShaderError(const char* prefix, const char* log);

  GLuint vertexShader = 0;
  GLuint fragmentShader = 0;
  GLuint program = 0;

 private:
  const char* const* capturedOutputs = nullptr;
  int capturedCount = 0;
  static bool CompileStage(GLenum stage, const char* source, const char* errorPrefix, GLuint& name);
};

}  // namespace ffglex
