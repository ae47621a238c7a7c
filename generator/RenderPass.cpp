// The GL side of a Tessarvander instance: builds the program and the quad,
// and draws one frame per process call.
//
// A polite guest in the host's context: it draws into whatever frame buffer and
// viewport the host has bound, changes no state besides the program and the
// quad's vertex array, and leaves both bound to 0. The per-layer table it
// fills first (transform feedback into a buffer of its own, read as a
// uniform block) puts back every binding it makes: the transform feedback
// object, the indexed and general buffer bindings, the rasterizer's
// discard. Uniform locations are looked up by name on every frame; nothing
// is allocated on the frame path. A frame buffer it cannot draw into fails
// the call before anything changes: no draw, no step of the clock, no GL
// error left for the host.
#include <GL/glew.h>

#include <algorithm>
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

// The per-layer table: the outputs the table's stage writes for each layer,
// in the order of its rows, and its size.
constexpr int kMaxLayers = 12;
const char* const kTableRows[] = {"tableView", "tableKernel", "tableColour"};
constexpr int kTableRowCount = 3;
constexpr GLsizeiptr kTableBytes = kMaxLayers * kTableRowCount * 4 * sizeof(float);

// Every uniform the stages read that the render pass sets: the clock, the
// two travel factors, and the parameters' own.
void SetFrameUniforms(GLuint program, float clock, const Tessarvander& plugin) {
  glUniform1f(glGetUniformLocation(program, "time"), clock);
  // Speed and direction reach the picture only through the clock, so
  // "speed" and "travelDirection" stay 1 and a change of rate never jumps
  // the position.
  glUniform1f(glGetUniformLocation(program, "speed"), 1.0f);
  glUniform1f(glGetUniformLocation(program, "travelDirection"), 1.0f);
  Tessarvander& values = const_cast<Tessarvander&>(plugin);
  for (const tessarvander::ParameterRow& row : tessarvander::kParameterRows) {
    if (!row.uniform) continue;
    const float* eased = values.EasedMember(row.index);
    const float value = eased ? *eased : tessarvander::Scaled(row.scaling, *values.ParameterMember(row.index));
    glUniform1f(glGetUniformLocation(program, row.uniform), value);
  }
}

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
// Fractal Type would then stall. So the set-up draws each program once, into
// one pixel of a frame buffer of our own in the host's colour format (the
// host may have none bound that a draw could use). The host's frame buffer,
// viewport and renderbuffer bindings are put back as they were.
template <typename Draw>
void DrawIntoAPixelOfOurOwn(Draw draw) {
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
    draw();
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
  if (layerSource) {
    tableProgram.CaptureOutputs(kTableRows, kTableRowCount);
    if (!(tableProgram.CompileVertexShader(layerSource) && tableProgram.Link())) {
      DeinitialiseGL();
      return FF_FAIL;
    }
    // The last uniform-buffer binding point: the one a host is least likely to use.
    GLint bindings = 0;
    glGetIntegerv(GL_MAX_UNIFORM_BUFFER_BINDINGS, &bindings);
    tableBinding = static_cast<GLuint>(std::max(1, bindings) - 1);
    glGenBuffers(1, &tableBuffer);
    glGenTransformFeedbacks(1, &tableFeedback);
    glGenVertexArrays(1, &tableVertexArray);
    {
      ffglex::ScopedTransformFeedbackBinding feedback(tableFeedback);
      GLint general = 0;
      glGetIntegerv(GL_TRANSFORM_FEEDBACK_BUFFER_BINDING, &general);
      glBindBufferBase(GL_TRANSFORM_FEEDBACK_BUFFER, 0, tableBuffer);
      glBufferData(GL_TRANSFORM_FEEDBACK_BUFFER, kTableBytes, nullptr, GL_DYNAMIC_COPY);
      glBindBuffer(GL_TRANSFORM_FEEDBACK_BUFFER, static_cast<GLuint>(general));
    }
  }
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
    const GLuint block = glGetUniformBlockIndex(program.program, "LayerTable");
    if (block != GL_INVALID_INDEX) glUniformBlockBinding(program.program, block, tableBinding);
  }
  if (!screenQuad.Initialise()) {
    DeinitialiseGL();
    return FF_FAIL;
  }
  if (specialiseKernels) DrawIntoAPixelOfOurOwn([this] { DrawEveryProgram(); });
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
  tableProgram.Release();
  if (tableBuffer) glDeleteBuffers(1, &tableBuffer);
  if (tableFeedback) glDeleteTransformFeedbacks(1, &tableFeedback);
  if (tableVertexArray) glDeleteVertexArrays(1, &tableVertexArray);
  tableBuffer = tableFeedback = tableVertexArray = 0;
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

  if (tableProgram.program) FillLayerTable();

  const GLuint program = CurrentProgram().program;
  ffglex::ScopedShaderBinding programBinding(program);
  SetFrameUniforms(program, travelClock, *this);

  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  glUniform2f(glGetUniformLocation(program, "resolution"), static_cast<float>(viewport[2]),
              static_cast<float>(viewport[3]));
  SetPassTurns(program, travelClock);

  DrawQuadReadingTheTable();
  return FF_SUCCESS;
}

// The table's program, then each kernel's, once each with the values set
// now: what the set-up draws so that no later frame waits for a compile.
void Tessarvander::DrawEveryProgram() noexcept {
  if (tableProgram.program) FillLayerTable();
  for (const ffglex::ShaderProgram& program : kernelPrograms) {
    if (!program.program) continue;
    ffglex::ScopedShaderBinding binding(program.program);
    DrawQuadReadingTheTable();
  }
}

// The quad with the bound program, the table at its binding point.
void Tessarvander::DrawQuadReadingTheTable() noexcept {
  if (!tableProgram.program) {
    screenQuad.Draw();
    return;
  }
  ffglex::ScopedIndexedBufferBinding table(GL_UNIFORM_BUFFER, tableBinding, tableBuffer);
  screenQuad.Draw();
}

// One point a layer through the table's stage, with the rasterizer off: its
// outputs land in the table, row by row, in the order of the layers.
void Tessarvander::FillLayerTable() noexcept {
  ffglex::ScopedShaderBinding programBinding(tableProgram.program);
  SetFrameUniforms(tableProgram.program, travelClock, *this);
  ffglex::ScopedCapability discard(GL_RASTERIZER_DISCARD);
  ffglex::ScopedTransformFeedbackBinding feedback(tableFeedback);
  ffglex::ScopedVAOBinding vertexArray(tableVertexArray);
  glBeginTransformFeedback(GL_POINTS);
  glDrawArrays(GL_POINTS, 0, kMaxLayers);
  glEndTransformFeedback();
}
