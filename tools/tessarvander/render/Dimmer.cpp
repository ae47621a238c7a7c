#include "render/Dimmer.h"

#include <GL/glew.h>

namespace tool {
namespace {

// A triangle that covers the viewport, from the vertex index alone.
const char* kVertexShader = R"(#version 410 core
void main() {
  vec2 corner = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
  gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
})";
const char* kFragmentShader = R"(#version 410 core
out vec4 colour;
void main() { colour = vec4(0.0, 0.0, 0.0, 1.0); })";

GLuint Compile(GLenum kind, const char* source, std::string& error) {
  const GLuint shader = glCreateShader(kind);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint compiled = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
  if (compiled != GL_TRUE) {
    char log[1024] = {};
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    error = std::string("blackout: the driver refused its shader: ") + log;
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

}  // namespace

Dimmer::~Dimmer() {
  if (program) glDeleteProgram(program);
  if (vertexArray) glDeleteVertexArrays(1, &vertexArray);
}

bool Dimmer::Create(std::string& error) {
  const GLuint vertex = Compile(GL_VERTEX_SHADER, kVertexShader, error);
  const GLuint fragment = vertex ? Compile(GL_FRAGMENT_SHADER, kFragmentShader, error) : 0;
  if (!fragment) {
    if (vertex) glDeleteShader(vertex);
    return false;
  }
  program = glCreateProgram();
  glAttachShader(program, vertex);
  glAttachShader(program, fragment);
  glLinkProgram(program);
  glDeleteShader(vertex);
  glDeleteShader(fragment);
  GLint linked = GL_FALSE;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (linked != GL_TRUE) {
    error = "blackout: the driver refused to link its program";
    return false;
  }
  glGenVertexArrays(1, &vertexArray);
  return true;
}

void Dimmer::Apply(const hostkit::FrameTarget& picture, float level) {
  picture.Bind();
  GLint previousProgram = 0, previousVertexArray = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &previousProgram);
  glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &previousVertexArray);
  const GLboolean blending = glIsEnabled(GL_BLEND);
  glUseProgram(program);
  glBindVertexArray(vertexArray);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ZERO, GL_CONSTANT_COLOR);  // picture x level; alpha kept
  glBlendColor(level, level, level, 1.0f);
  glDrawArrays(GL_TRIANGLES, 0, 3);
  if (!blending) glDisable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ZERO);
  glUseProgram(static_cast<GLuint>(previousProgram));
  glBindVertexArray(static_cast<GLuint>(previousVertexArray));
}

}  // namespace tool
