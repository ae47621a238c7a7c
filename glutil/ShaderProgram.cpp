#include "ShaderProgram.h"

#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace ffglex {
namespace {

constexpr const char* kVertexErrorPrefix = "Vertex Shader error: ";
constexpr const char* kFragmentErrorPrefix = "Fragment Shader error: ";
// The link log is read into a fixed buffer; longer logs are cut.
constexpr GLsizei kLinkLogSize = 1024;

void WriteToDebuggerOutput(const char* text) {
#if defined(_WIN32)
  OutputDebugStringA(text);
#else
  std::fputs(text, stderr);
#endif
}

}  // namespace

bool ShaderProgram::CompileStage(GLenum stage, const char* source, const char* errorPrefix, GLuint& name) {
  name = glCreateShader(stage);
  glShaderSource(name, 1, &source, nullptr);
  glCompileShader(name);

  GLint status = 0;
  glGetShaderiv(name, GL_COMPILE_STATUS, &status);
  if (status == 1) return true;

  GLint logLength = 0;
  glGetShaderiv(name, GL_INFO_LOG_LENGTH, &logLength);
  if (logLength < 0) logLength = 0;
  // One byte more than the driver asks for keeps the text terminated.
  std::vector<char> log(static_cast<size_t>(logLength) + 1, '\0');
  glGetShaderInfoLog(name, logLength, nullptr, log.data());
  ReportShaderError(errorPrefix, log.data());
  return false;
}

bool ShaderProgram::CompileVertexShader(const char* source) {
  return CompileStage(GL_VERTEX_SHADER, source, kVertexErrorPrefix, vertexShader);
}

bool ShaderProgram::CompileFragmentShader(const char* source) {
  return CompileStage(GL_FRAGMENT_SHADER, source, kFragmentErrorPrefix, fragmentShader);
}

bool ShaderProgram::Link() {
  program = glCreateProgram();
  glAttachShader(program, vertexShader);
  if (fragmentShader != 0) glAttachShader(program, fragmentShader);
  if (capturedCount > 0) glTransformFeedbackVaryings(program, capturedCount, capturedOutputs, GL_INTERLEAVED_ATTRIBS);
  glLinkProgram(program);

  GLint status = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &status);
  if (status == 1) return true;

  char log[kLinkLogSize] = {};
  GLsizei length = 0;
  glGetProgramInfoLog(program, kLinkLogSize - 1, &length, log);
  if (length < 0) length = 0;
  if (length > kLinkLogSize - 1) length = kLinkLogSize - 1;
  log[length] = '\0';
  ReportShaderError(kFragmentErrorPrefix, log);
  return false;
}

void ShaderProgram::Release() {
  if (vertexShader != 0) glDeleteShader(vertexShader);
  vertexShader = 0;
  if (fragmentShader != 0) glDeleteShader(fragmentShader);
  fragmentShader = 0;
  if (program != 0) glDeleteProgram(program);
  program = 0;
}

void ShaderProgram::ReportShaderError(const char* prefix, const char* log) {
  const std::string message = std::string(prefix) + (log ? log : "");
  WriteToDebuggerOutput(message.c_str());
  WriteToDebuggerOutput("\n");
  std::fputs(message.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace ffglex
