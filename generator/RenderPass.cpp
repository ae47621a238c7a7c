// The GL side of a Tessarvander instance: builds the program and the quad,
// and draws one frame per process call.
//
// A polite guest in the host's context: it draws into whatever frame buffer and
// viewport the host has bound, changes no state besides the program and the
// quad's vertex array, and leaves both bound to 0. Uniform locations are looked
// up by name on every frame; nothing is allocated on the frame path. A frame
// buffer it cannot draw into fails the call before anything changes: no
// draw, no step of the clock, no GL error left for the host.
#include <GL/glew.h>

#include <cmath>
#include <string>

#include "ParameterTable.h"
#include "ScopedBindings.h"
#include "Tessarvander.h"
#include "TravelMotion.h"

namespace {

// The turn after each kaleidoscope fold pass, 0.3 + 0.1 sin(0.2 t + i), is
// the same for every pixel and layer of a frame: it is set once per frame,
// besides the twenty-one uniforms. The sine's argument is rounded to single
// precision as the shader would round it, which matters once the clock is
// large.
constexpr int kMaxFoldPasses = 12;

void SetPassTurns(GLuint program, float clock) {
  float turns[2 * kMaxFoldPasses];
  for (int i = 0; i < kMaxFoldPasses; ++i) {
    const float argument = clock * 0.2f + static_cast<float>(i);
    const double angle = 0.3 + 0.1 * std::sin(static_cast<double>(argument));
    turns[2 * i] = static_cast<float>(std::cos(angle));
    turns[2 * i + 1] = static_cast<float>(std::sin(angle));
  }
  glUniform2fv(glGetUniformLocation(program, "kaleidoPassTurns"), kMaxFoldPasses, turns);
}

// A stage's source with KERNEL defined right after its version line (which
// must stay the first line).
std::string WithKernel(const char* source, int kernel) {
  std::string text = source;
  const size_t endOfVersion = text.find('\n');
  const std::string define = "#define KERNEL " + std::to_string(kernel) + "\n";
  text.insert(endOfVersion == std::string::npos ? text.size() : endOfVersion + 1, define);
  return text;
}

// The colour format of the frame buffer the host has bound for drawing, as
// closely as a first draw needs it: float, half float or 8-bit channels.
GLenum HostColourFormat() {
  GLint bound = 0;
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &bound);
  if (bound == 0) return GL_RGBA8;
  GLint type = GL_NONE, bits = 0;
  glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                        GL_FRAMEBUFFER_ATTACHMENT_COMPONENT_TYPE, &type);
  glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_RED_SIZE,
                                        &bits);
  if (type == GL_FLOAT) return bits > 16 ? GL_RGBA32F : GL_RGBA16F;
  return GL_RGBA8;
}

// A driver may finish compiling a program only at its first draw (llvmpipe
// does, for hundreds of milliseconds): the first frame after a change of
// Fractal Type would then stall. Each kernel's program draws the quad once
// here, into one pixel of a frame buffer of our own in the host's colour
// format, so that every later frame finds its program ready. The host's frame
// buffer, viewport and renderbuffer bindings are put back as they were; the
// program and vertex array end at 0, as after every call.
void DrawEachProgramOnce(const ffglex::ShaderProgram* programs, int count, ffglex::ScreenQuad& quad) {
  GLint drawFrameBuffer = 0, renderBuffer = 0, viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &drawFrameBuffer);
  glGetIntegerv(GL_RENDERBUFFER_BINDING, &renderBuffer);
  glGetIntegerv(GL_VIEWPORT, viewport);
  const GLenum format = HostColourFormat();
  GLuint pixel = 0, frameBuffer = 0;
  glGenRenderbuffers(1, &pixel);
  glBindRenderbuffer(GL_RENDERBUFFER, pixel);
  glRenderbufferStorage(GL_RENDERBUFFER, format, 1, 1);
  glGenFramebuffers(1, &frameBuffer);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, frameBuffer);
  glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, pixel);
  if (glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
    glViewport(0, 0, 1, 1);
    for (int kernel = 0; kernel < count; ++kernel) {
      ffglex::ScopedShaderBinding binding(programs[kernel].program);
      quad.Draw();
    }
  }
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(drawFrameBuffer));
  glBindRenderbuffer(GL_RENDERBUFFER, static_cast<GLuint>(renderBuffer));
  glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
  glDeleteFramebuffers(1, &frameBuffer);
  glDeleteRenderbuffers(1, &pixel);
}

}  // namespace

const ffglex::ShaderProgram& Tessarvander::CurrentProgram() const noexcept {
  if (!specialiseKernels) return kernelPrograms[0];
  // The shader's own rule for the band, from the same table row.
  const tessarvander::Bands& kernels = tessarvander::kParameterRows[tessarvander::param::FractalType].bands;
  return kernelPrograms[tessarvander::BandOf(kernels, paramFractalType)];
}

FFResult Tessarvander::InitialiseGL(const ViewportRecord*) {
  const int programs = specialiseKernels ? kKernelCount : 1;
  for (int kernel = 0; kernel < programs; ++kernel) {
    ffglex::ShaderProgram& program = kernelPrograms[kernel];
    const std::string vertex = specialiseKernels ? WithKernel(vertexSource, kernel) : vertexSource;
    const std::string fragment = specialiseKernels ? WithKernel(fragmentSource, kernel) : fragmentSource;
    if (!(program.CompileVertexShader(vertex.c_str()) && program.CompileFragmentShader(fragment.c_str()) &&
          program.Link())) {
      program.Release();
      DeinitialiseGL();
      return FF_FAIL;
    }
  }
  if (!screenQuad.Initialise()) {
    DeinitialiseGL();
    return FF_FAIL;
  }
  if (specialiseKernels) DrawEachProgramOnce(kernelPrograms, kKernelCount, screenQuad);
  glInitialised = true;
  travelClock = 0.0f;
  return FF_SUCCESS;
}

void Tessarvander::SettleEasing() noexcept {
  for (const tessarvander::ParameterRow& row : tessarvander::kParameterRows)
    if (float* eased = EasedMember(row.index)) *eased = tessarvander::Scaled(row.scaling, *ParameterMember(row.index));
}

FFResult Tessarvander::DeinitialiseGL() noexcept {
  // Mesa's llvmpipe keeps a program's compiled code for good (about 700 KB)
  // when the program is deleted while a draw that uses it is still queued;
  // flushing first submits that draw, and costs a real GPU nothing here.
  glFlush();
  for (ffglex::ShaderProgram& program : kernelPrograms) program.Release();
  screenQuad.Release();
  glInitialised = false;
  return FF_SUCCESS;
}

FFResult Tessarvander::ProcessFrame(const ProcessRecord* record) noexcept {
  if (!glInitialised || !record) return FF_FAIL;
  // None bound in a surfaceless context, or an FBO without attachments: a
  // draw would only raise GL_INVALID_FRAMEBUFFER_OPERATION.
  if (glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return FF_FAIL;

  // Each eased value closes 5 % of the distance to its scaled parameter;
  // then the clock steps with the rate just eased.
  for (const tessarvander::ParameterRow& row : tessarvander::kParameterRows)
    if (float* eased = EasedMember(row.index))
      *eased = travel::EaseToward(*eased, tessarvander::Scaled(row.scaling, *ParameterMember(row.index)));
  travelClock = travel::AdvanceClock(travelClock, easedDirection, easedSpeed);

  const GLuint program = CurrentProgram().program;
  ffglex::ScopedShaderBinding programBinding(program);

  // Speed and direction reach the picture only through the clock, so "speed"
  // and "travelDirection" stay 1 and a change of rate never jumps the position.
  glUniform1f(glGetUniformLocation(program, "time"), travelClock);
  glUniform1f(glGetUniformLocation(program, "speed"), 1.0f);
  glUniform1f(glGetUniformLocation(program, "travelDirection"), 1.0f);
  for (const tessarvander::ParameterRow& row : tessarvander::kParameterRows) {
    if (!row.uniform) continue;
    const float* eased = EasedMember(row.index);
    const float value = eased ? *eased : tessarvander::Scaled(row.scaling, *ParameterMember(row.index));
    glUniform1f(glGetUniformLocation(program, row.uniform), value);
  }

  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  glUniform2f(glGetUniformLocation(program, "resolution"), static_cast<float>(viewport[2]),
              static_cast<float>(viewport[3]));
  SetPassTurns(program, travelClock);

  screenQuad.Draw();
  return FF_SUCCESS;
}
