#include "render/ScreenProgram.h"

#include <GL/glew.h>

namespace tool {
namespace {

// A triangle that covers the viewport, from the vertex index alone.
const char* kVertexShader = R"(#version 410 core
out vec2 uv;
void main() {
  vec2 corner = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
  uv = corner;
  gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
})";

GLuint Compile(GLenum kind, const char* source, const std::string& what, std::string& error) {
  const GLuint shader = glCreateShader(kind);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint compiled = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
  if (compiled != GL_TRUE) {
    char log[1024] = {};
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    error = what + ": the driver refused its shader: " + log;
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

}  // namespace

ScreenProgram::~ScreenProgram() {
  if (program) glDeleteProgram(program);
  if (vertexArray) glDeleteVertexArrays(1, &vertexArray);
}

bool ScreenProgram::Create(const char* fragmentSource, const std::string& what, std::string& error) {
  const GLuint vertex = Compile(GL_VERTEX_SHADER, kVertexShader, what, error);
  const GLuint fragment = vertex ? Compile(GL_FRAGMENT_SHADER, fragmentSource, what, error) : 0;
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
    error = what + ": the driver refused to link its program";
    return false;
  }
  glGenVertexArrays(1, &vertexArray);
  return true;
}

void ScreenProgram::Begin() {
  glGetIntegerv(GL_CURRENT_PROGRAM, &previousProgram);
  glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &previousVertexArray);
  glUseProgram(program);
  glBindVertexArray(vertexArray);
}

void ScreenProgram::End() {
  glDrawArrays(GL_TRIANGLES, 0, 3);
  glUseProgram(static_cast<GLuint>(previousProgram));
  glBindVertexArray(static_cast<GLuint>(previousVertexArray));
}

}  // namespace tool
