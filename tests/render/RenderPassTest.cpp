// The render pass: easing, the travel clock, the uniforms it sets, its GL
// objects and its manners in the host's context.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "ParameterTable.h"
#include "RenderHarness.h"
#include "ShaderSources.h"

namespace {

using testsupport::kFrameRecord;
using testsupport::RenderHarness;
namespace param = tessarvander::param;

// The easing and clock step in single precision, in the documented order.
float Eased(float eased, float target) { return (target - eased) * 0.05f + eased; }
float Advanced(float clock, float direction, float speed) { return (direction * speed) * 0.016666668f + clock; }

class RenderPassTest : public testsupport::GlTest {};

TEST_F(RenderPassTest, FirstFramesEaseFromTheInitialValues) {
  RenderHarness harness(32, 24, testsupport::Programs::General);
  ASSERT_TRUE(harness.Ready());
  Tessarvander& plugin = harness.Plugin();
  ASSERT_TRUE(harness.Frame());
  EXPECT_EQ(plugin.easedSpeed, Eased(0.3f, 0.6f));
  EXPECT_NEAR(plugin.easedSpeed, 0.315f, 1e-7f);
  EXPECT_EQ(plugin.easedDirection, 1.0f);
  EXPECT_NEAR(plugin.easedPulseSpeed, 0.6f, 1e-7f);
  EXPECT_EQ(plugin.easedDepthLayers, 0.5f);
  EXPECT_EQ(plugin.easedBranches, 0.5f);
  EXPECT_EQ(harness.Uniform("time"), Advanced(0.0f, 1.0f, Eased(0.3f, 0.6f)));
  EXPECT_NEAR(harness.Uniform("time"), 0.00525f, 1e-7f);
  EXPECT_EQ(harness.Uniform("pulseSpeed"), plugin.easedPulseSpeed);

  ASSERT_TRUE(harness.Frame());
  ASSERT_TRUE(harness.Frame());
  float speed = 0.3f, clock = 0.0f;
  for (int frame = 0; frame < 3; ++frame) {
    speed = Eased(speed, 0.6f);
    clock = Advanced(clock, 1.0f, speed);
  }
  EXPECT_EQ(harness.Uniform("time"), clock);
  EXPECT_NEAR(harness.Uniform("time"), 0.01645f, 1e-5f);
}

TEST_F(RenderPassTest, SteadyStateAdvancesOneHundredthPerFrame) {
  RenderHarness harness(8, 8, testsupport::Programs::General);
  ASSERT_TRUE(harness.Ready());
  Tessarvander& plugin = harness.Plugin();
  for (int frame = 0; frame < 600; ++frame) ASSERT_TRUE(harness.Frame());
  EXPECT_NEAR(plugin.easedSpeed, 0.6f, 1e-6f);
  const float before = plugin.travelClock;
  ASSERT_TRUE(harness.Frame());
  EXPECT_NEAR(plugin.travelClock - before, 0.01f, 2e-6f);
  EXPECT_EQ(harness.Uniform("time"), plugin.travelClock);
}

TEST_F(RenderPassTest, DirectionIsContinuous) {
  struct Case {
    float direction;
    float finalRate;  // clock change per frame once settled
  };
  const Case cases[] = {{0.5f, 0.0f}, {0.0f, -0.01f}, {1.0f, 0.01f}, {0.75f, 0.005f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.direction);
    RenderHarness harness(8, 8, testsupport::Programs::General);
    ASSERT_TRUE(harness.Ready());
    Tessarvander& plugin = harness.Plugin();
    plugin.SetFloatParameter(param::Direction, c.direction);
    for (int frame = 0; frame < 600; ++frame) ASSERT_TRUE(harness.Frame());
    const float before = plugin.travelClock;
    ASSERT_TRUE(harness.Frame());
    EXPECT_NEAR(plugin.travelClock - before, c.finalRate, 2e-6f);
    EXPECT_EQ(harness.Uniform("speed"), 1.0f);
    EXPECT_EQ(harness.Uniform("travelDirection"), 1.0f);
    if (c.direction == 0.0f) {
      EXPECT_LT(plugin.travelClock, 0.0f);
    }
  }
}

TEST_F(RenderPassTest, SpeedZeroBringsTheClockToRest) {
  RenderHarness harness(8, 8, testsupport::Programs::General);
  ASSERT_TRUE(harness.Ready());
  harness.Plugin().SetFloatParameter(param::Speed, 0.0f);
  for (int frame = 0; frame < 600; ++frame) ASSERT_TRUE(harness.Frame());
  const float before = harness.Plugin().travelClock;
  ASSERT_TRUE(harness.Frame());
  EXPECT_NEAR(harness.Plugin().travelClock - before, 0.0f, 1e-6f);
}

TEST_F(RenderPassTest, ParametersBecomeUniforms) {
  struct Case {
    uint32_t index;
    float value;
    const char* uniform;
    float expected;
  };
  // The scalings of the plugin's documented table, stated here on their own.
  const Case cases[] = {
      {param::Zoom, 0.0f, "zoom", 0.5f},
      {param::Zoom, 1.0f, "zoom", 5.5f},
      {param::Zoom, 0.5f, "zoom", 3.0f},
      {param::FractalType, 0.9f, "crystalType", 0.9f},
      {param::Mirror, 0.75f, "mirrorMode", 0.75f},
      {param::Complexity, 0.2f, "complexity", 0.2f},
      {param::Thickness, 0.4f, "thickness", 0.4f},
      {param::Glow, 0.7f, "glowAmount", 0.7f},
      {param::ColorMode, 0.3f, "colorMode", 0.3f},
      {param::Hue, 0.1f, "manualHue", 0.1f},
      {param::Saturation, 0.2f, "saturation", 0.2f},
      {param::Brightness, 1.0f, "brightness", 2.0f},
      {param::Rotation, 0.25f, "rotation", 0.25f},
      {param::CenterX, 0.1f, "centerX", 0.1f},
      {param::CenterY, 0.9f, "centerY", 0.9f},
      {param::PulseAmount, 0.6f, "pulseAmount", 0.6f},
      {param::Brightness, 0.3f, "brightness", 0.6f},
  };
  RenderHarness harness(8, 8, testsupport::Programs::General);
  ASSERT_TRUE(harness.Ready());
  for (const Case& c : cases) {
    harness.Plugin().SetFloatParameter(c.index, c.value);
    ASSERT_TRUE(harness.Frame());
    EXPECT_FLOAT_EQ(harness.Uniform(c.uniform), c.expected) << c.uniform << " from " << c.value;
  }
}

TEST_F(RenderPassTest, EasedParametersApproachTheirTargets) {
  RenderHarness harness(8, 8, testsupport::Programs::General);
  ASSERT_TRUE(harness.Ready());
  Tessarvander& plugin = harness.Plugin();
  plugin.SetFloatParameter(param::PulseSpeed, 1.0f);
  plugin.SetFloatParameter(param::DepthLayers, 1.0f);
  plugin.SetFloatParameter(param::Branches, 0.0f);
  ASSERT_TRUE(harness.Frame());
  EXPECT_EQ(harness.Uniform("pulseSpeed"), Eased(0.5f, 5.0f));
  EXPECT_EQ(harness.Uniform("depthLayers"), Eased(0.5f, 1.0f));
  EXPECT_EQ(harness.Uniform("branches"), Eased(0.5f, 0.0f));
  for (int frame = 0; frame < 13; ++frame) ASSERT_TRUE(harness.Frame());
  EXPECT_NEAR(harness.Uniform("depthLayers"), 0.75f, 0.02f) << "about 14 frames halve the distance";
  for (int frame = 0; frame < 600; ++frame) ASSERT_TRUE(harness.Frame());
  EXPECT_NEAR(harness.Uniform("pulseSpeed"), 5.0f, 1e-4f);
  EXPECT_NEAR(harness.Uniform("depthLayers"), 1.0f, 1e-5f);
  EXPECT_NEAR(harness.Uniform("branches"), 0.0f, 1e-5f);
}

// Easing by 5 % stalls a few units in the last place short of its target;
// without landing on it, Depth Layers 1.0 would show 8 layers forever and
// Branches 1.0 19 branches, and a band edge approached from below would stay
// one band short.
TEST_F(RenderPassTest, EasedValuesReachTheirTargetsExactly) {
  struct Case {
    uint32_t index;
    float target;
    const char* uniform;
    float shown;  // the uniform's value once settled
  };
  const Case cases[] = {{18, 1.0f, "depthLayers", 1.0f},
                        {6, 1.0f, "branches", 1.0f},
                        {18, 1.0f / 6.0f, "depthLayers", 1.0f / 6.0f},
                        {17, 1.0f, "pulseSpeed", 5.0f}};
  for (const Case& c : cases) {
    RenderHarness harness(4, 4, testsupport::Programs::General);
    ASSERT_TRUE(harness.Ready());
    harness.Plugin().SetFloatParameter(c.index, c.target);
    for (int frame = 0; frame < 1000; ++frame) ASSERT_TRUE(harness.Frame());
    EXPECT_EQ(harness.Uniform(c.uniform), c.shown) << c.uniform << " toward " << c.target;
  }
  RenderHarness harness(4, 4, testsupport::Programs::General);
  harness.Plugin().SetFloatParameter(param::DepthLayers, 1.0f);
  for (int frame = 0; frame < 1000; ++frame) ASSERT_TRUE(harness.Frame());
  EXPECT_EQ(static_cast<int>(harness.Uniform("depthLayers") * 6.0f) + 3, 9) << "nine layers at the top of the range";
}

TEST_F(RenderPassTest, ResolutionIsTheViewportSizeNotItsOrigin) {
  RenderHarness harness(8, 8, testsupport::Programs::General);
  ASSERT_TRUE(harness.Ready());
  const int viewports[][4] = {{0, 0, 1920, 1080}, {100, 50, 640, 480}, {3, 4, 1, 1}};
  for (const auto& viewport : viewports) {
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    ASSERT_EQ(harness.Plugin().ProcessFrame(kFrameRecord), FF_SUCCESS);
    GLuint program = harness.Plugin().CurrentProgram().program;
    float resolution[2] = {0, 0};
    glGetUniformfv(program, glGetUniformLocation(program, "resolution"), resolution);
    EXPECT_EQ(resolution[0], static_cast<float>(viewport[2]));
    EXPECT_EQ(resolution[1], static_cast<float>(viewport[3]));
  }
}

TEST_F(RenderPassTest, FramesFailWithoutGLRecordOrCompleteFrameBufferAndChangeNothing) {
  Tessarvander plugin;
  EXPECT_EQ(plugin.ProcessFrame(kFrameRecord), FF_FAIL);
  EXPECT_EQ(plugin.travelClock, 0.0f);
  EXPECT_EQ(plugin.easedSpeed, 0.3f);

  RenderHarness harness(8, 8, testsupport::Programs::General);
  ASSERT_TRUE(harness.Ready());
  ASSERT_TRUE(harness.Frame());
  const float clock = harness.Plugin().travelClock;
  const float speed = harness.Plugin().easedSpeed;
  EXPECT_EQ(harness.Plugin().ProcessFrame(nullptr), FF_FAIL);
  EXPECT_EQ(harness.Plugin().travelClock, clock);

  // Nothing to draw into: no frame buffer in a surfaceless context, and one
  // without attachments. The host is left no GL error to trip over.
  GLuint empty = 0;
  glGenFramebuffers(1, &empty);
  for (GLuint frameBuffer : {0u, empty}) {
    glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
    EXPECT_EQ(harness.Plugin().ProcessFrame(kFrameRecord), FF_FAIL) << "frame buffer " << frameBuffer;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "frame buffer " << frameBuffer;
    EXPECT_EQ(harness.Plugin().travelClock, clock);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDeleteFramebuffers(1, &empty);

  harness.Plugin().DeinitialiseGL();
  EXPECT_FALSE(harness.Frame());
  EXPECT_EQ(harness.Plugin().travelClock, clock);
  EXPECT_EQ(harness.Plugin().easedSpeed, speed);
}

TEST_F(RenderPassTest, SecondInitialisationRestartsTheClockAndKeepsTheEasing) {
  RenderHarness harness(8, 8, testsupport::Programs::General);
  ASSERT_TRUE(harness.Ready());
  Tessarvander& plugin = harness.Plugin();
  for (int frame = 0; frame < 50; ++frame) ASSERT_TRUE(harness.Frame());
  const float speed = plugin.easedSpeed;
  std::vector<GLuint> oldPrograms;
  for (const ffglex::ShaderProgram& program : plugin.kernelPrograms) oldPrograms.push_back(program.program);
  const GLuint oldBuffer = plugin.screenQuad.vertexBuffer;
  const GLuint oldArray = plugin.screenQuad.vertexArray;
  EXPECT_EQ(plugin.DeinitialiseGL(), FF_SUCCESS);
  for (GLuint program : oldPrograms) EXPECT_FALSE(glIsProgram(program));
  EXPECT_FALSE(glIsBuffer(oldBuffer));
  EXPECT_FALSE(glIsVertexArray(oldArray));

  ViewportRecord viewport{0, 0, 8, 8};
  ASSERT_EQ(plugin.InitialiseGL(&viewport), FF_SUCCESS);
  EXPECT_EQ(plugin.travelClock, 0.0f);
  EXPECT_EQ(plugin.easedSpeed, speed);
  ASSERT_TRUE(harness.Frame());
  EXPECT_EQ(harness.Uniform("time"), Advanced(0.0f, plugin.easedDirection, plugin.easedSpeed));
}

// A program per kernel: changing Fractal Type in a running instance draws the
// next frame in the new kernel, the very picture of an instance that drew
// that kernel all along (the clock and easing do not depend on the kernel).
TEST_F(RenderPassTest, SwitchingKernelsEveryFrameDrawsEachKernelAsAFreshInstance) {
  const tessarvander::Bands& kernels = tessarvander::kParameterRows[param::FractalType].bands;
  RenderHarness switching(32, 18);
  ASSERT_TRUE(switching.Ready());
  for (int frame = 0; frame < 40; ++frame) {
    const float type = tessarvander::BandCentre(kernels, frame % kernels.count);
    switching.Plugin().SetFloatParameter(param::FractalType, type);
    ASSERT_TRUE(switching.Frame());
    RenderHarness fresh(32, 18);
    ASSERT_TRUE(fresh.Ready());
    fresh.Plugin().SetFloatParameter(param::FractalType, type);
    for (int step = 0; step <= frame; ++step) ASSERT_TRUE(fresh.Frame());
    EXPECT_EQ(switching.ReadPixels(), fresh.ReadPixels()) << "frame " << frame << ", kernel " << frame % kernels.count;
  }
}

TEST_F(RenderPassTest, FailingShaderLeavesEveryNameZero) {
  ASSERT_NE(testsupport::SharedGlContext(), nullptr);
  const char* broken = "#version 410 core\nvoid main() { this is not glsl; }\n";
  const char* wrongVersion = "#version 9999\nvoid main() {}\n";
  for (bool breakVertex : {false, true}) {
    Tessarvander plugin;
    if (breakVertex)
      plugin.vertexSource = wrongVersion;
    else
      plugin.fragmentSource = broken;
    ViewportRecord viewport{0, 0, 8, 8};
    testing::internal::CaptureStdout();
    EXPECT_EQ(plugin.InitialiseGL(&viewport), FF_FAIL);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.rfind(breakVertex ? "Vertex Shader error: " : "Fragment Shader error: ", 0), 0u) << printed;
    EXPECT_FALSE(plugin.glInitialised);
    for (const ffglex::ShaderProgram& program : plugin.kernelPrograms) {
      EXPECT_EQ(program.vertexShader, 0u);
      EXPECT_EQ(program.fragmentShader, 0u);
      EXPECT_EQ(program.program, 0u);
    }
    EXPECT_EQ(plugin.screenQuad.vertexArray, 0u);
    EXPECT_EQ(plugin.screenQuad.vertexBuffer, 0u);
    EXPECT_EQ(plugin.ProcessFrame(kFrameRecord), FF_FAIL);
  }
}

TEST_F(RenderPassTest, LeavesTheHostsStateAsTheContractSays) {
  RenderHarness harness(16, 16);
  ASSERT_TRUE(harness.Ready());
  // The host's own objects, bound before the call.
  GLuint hostArray = 0, hostBuffer = 0, hostFrameBuffer = 0;
  glGenVertexArrays(1, &hostArray);
  glGenBuffers(1, &hostBuffer);
  glGenFramebuffers(1, &hostFrameBuffer);
  hostkit::FrameTarget hostTarget;
  std::string error;
  ASSERT_TRUE(hostTarget.Create(16, 16, hostkit::PixelFormat::Rgba8, error));
  hostTarget.Bind();
  glViewport(2, 3, 10, 11);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE);
  glEnable(GL_DEPTH_TEST);
  glBindVertexArray(hostArray);
  glBindBuffer(GL_ARRAY_BUFFER, hostBuffer);
  ffglex::ShaderProgram hostProgram;
  ASSERT_TRUE(hostProgram.CompileVertexShader("#version 410 core\nvoid main() { gl_Position = vec4(0.0); }\n"));
  ASSERT_TRUE(hostProgram.CompileFragmentShader("#version 410 core\nout vec4 c;\nvoid main() { c = vec4(1.0); }\n"));
  ASSERT_TRUE(hostProgram.Link());
  glUseProgram(hostProgram.program);
  // And its own transform feedback object and buffers, one bound by range
  // at the uniform-buffer binding point the plugin's table uses.
  GLuint hostFeedback = 0, hostUniforms = 0, hostCaptures = 0;
  glGenTransformFeedbacks(1, &hostFeedback);
  glGenBuffers(1, &hostUniforms);
  glGenBuffers(1, &hostCaptures);
  glBindTransformFeedback(GL_TRANSFORM_FEEDBACK, hostFeedback);
  glBindBuffer(GL_TRANSFORM_FEEDBACK_BUFFER, hostCaptures);
  glBindBuffer(GL_UNIFORM_BUFFER, hostUniforms);
  glBufferData(GL_UNIFORM_BUFFER, 4096, nullptr, GL_STATIC_DRAW);
  GLint alignment = 0, uniformBindings = 0;
  glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &alignment);
  glGetIntegerv(GL_MAX_UNIFORM_BUFFER_BINDINGS, &uniformBindings);
  const GLuint lastBinding = static_cast<GLuint>(uniformBindings - 1);
  glBindBufferRange(GL_UNIFORM_BUFFER, lastBinding, hostUniforms, alignment, 64);
  ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  ASSERT_EQ(harness.Plugin().ProcessFrame(kFrameRecord), FF_SUCCESS);

  GLint feedback = 0, captures = 0, uniforms = 0, atLast = 0;
  GLint64 start = 0, size = 0;
  glGetIntegerv(GL_TRANSFORM_FEEDBACK_BINDING, &feedback);
  glGetIntegerv(GL_TRANSFORM_FEEDBACK_BUFFER_BINDING, &captures);
  glGetIntegerv(GL_UNIFORM_BUFFER_BINDING, &uniforms);
  glGetIntegeri_v(GL_UNIFORM_BUFFER_BINDING, lastBinding, &atLast);
  glGetInteger64i_v(GL_UNIFORM_BUFFER_START, lastBinding, &start);
  glGetInteger64i_v(GL_UNIFORM_BUFFER_SIZE, lastBinding, &size);
  EXPECT_EQ(static_cast<GLuint>(feedback), hostFeedback);
  EXPECT_EQ(static_cast<GLuint>(captures), hostCaptures);
  EXPECT_EQ(static_cast<GLuint>(uniforms), hostUniforms);
  EXPECT_EQ(static_cast<GLuint>(atLast), hostUniforms);
  EXPECT_EQ(start, alignment);
  EXPECT_EQ(size, 64);
  EXPECT_FALSE(glIsEnabled(GL_RASTERIZER_DISCARD));
  glBindTransformFeedback(GL_TRANSFORM_FEEDBACK, 0);
  glDeleteTransformFeedbacks(1, &hostFeedback);
  glDeleteBuffers(1, &hostUniforms);
  glDeleteBuffers(1, &hostCaptures);

  const testsupport::GlBindings bindings = testsupport::CurrentBindings();
  EXPECT_EQ(bindings.program, 0);
  EXPECT_EQ(bindings.vertexArray, 0);
  // A frame binds no buffer, so the host's array buffer stays bound.
  EXPECT_EQ(bindings.arrayBuffer, static_cast<int>(hostBuffer));
  GLint frameBuffer = 0, viewport[4] = {};
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &frameBuffer);
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(static_cast<GLuint>(frameBuffer), hostTarget.FrameBuffer());
  EXPECT_EQ(viewport[0], 2);
  EXPECT_EQ(viewport[1], 3);
  EXPECT_EQ(viewport[2], 10);
  EXPECT_EQ(viewport[3], 11);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  GLint blendSource = 0;
  glGetIntegerv(GL_BLEND_SRC_RGB, &blendSource);
  EXPECT_EQ(blendSource, GL_ONE);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  // Creating the GL objects binds a buffer, and leaves 0 behind; drawing each
  // kernel's program once (into a pixel of its own) leaves the host's frame
  // buffer, viewport and renderbuffer as they were.
  GLuint hostRenderBuffer = 0;
  glGenRenderbuffers(1, &hostRenderBuffer);
  glBindRenderbuffer(GL_RENDERBUFFER, hostRenderBuffer);
  glBindVertexArray(hostArray);
  glUseProgram(hostProgram.program);
  Tessarvander second;
  ViewportRecord record{0, 0, 16, 16};
  ASSERT_EQ(second.InitialiseGL(&record), FF_SUCCESS);
  const testsupport::GlBindings afterInitialise = testsupport::CurrentBindings();
  EXPECT_EQ(afterInitialise.vertexArray, 0);
  EXPECT_EQ(afterInitialise.arrayBuffer, 0);
  EXPECT_EQ(afterInitialise.program, 0);
  GLint renderBuffer = 0;
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &frameBuffer);
  glGetIntegerv(GL_RENDERBUFFER_BINDING, &renderBuffer);
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(static_cast<GLuint>(frameBuffer), hostTarget.FrameBuffer());
  EXPECT_EQ(static_cast<GLuint>(renderBuffer), hostRenderBuffer);
  EXPECT_EQ(viewport[0], 2);
  EXPECT_EQ(viewport[3], 11);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  second.DeinitialiseGL();
  glDeleteRenderbuffers(1, &hostRenderBuffer);

  glDisable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  hostProgram.Release();
  glDeleteVertexArrays(1, &hostArray);
  glDeleteBuffers(1, &hostBuffer);
  glDeleteFramebuffers(1, &hostFrameBuffer);
}

// What OpenGL 4.1 guarantees every GPU: 64 components out of the vertex
// stage, 64 captured by transform feedback, 16 KB in a uniform block. The
// drawing stages, per kernel and general, stay within them, counted from
// the compiled stages themselves (built-ins like gl_Position included).
int Components(GLenum type) {
  switch (type) {
    case GL_FLOAT: return 1;
    case GL_FLOAT_VEC2: return 2;
    case GL_FLOAT_VEC3: return 3;
    default: return 4;
  }
}

int ComponentsOf(GLuint program, GLenum interface) {
  GLint count = 0;
  glGetProgramInterfaceiv(program, interface, GL_ACTIVE_RESOURCES, &count);
  int components = 0;
  for (GLint i = 0; i < count; ++i) {
    const GLenum properties[] = {GL_TYPE, GL_ARRAY_SIZE};
    GLint values[2] = {0, 0};
    glGetProgramResourceiv(program, interface, static_cast<GLuint>(i), 2, properties, 2, nullptr, values);
    components += Components(static_cast<GLenum>(values[0])) * std::max(values[1], 1);
  }
  return components;
}

// One stage alone, as a separable program, so that its own interface is
// what the queries see; KERNEL defined as the plugin does, or not at all.
GLuint StageAlone(GLenum stage, const char* source, int kernel) {
  std::string text = source;
  if (kernel >= 0) text.insert(text.find('\n') + 1, "#define KERNEL " + std::to_string(kernel) + "\n");
  const char* pointer = text.c_str();
  return glCreateShaderProgramv(stage, 1, &pointer);
}

TEST_F(RenderPassTest, EveryStageStaysWithinWhatEveryGpuGuarantees) {
  constexpr int kGuaranteedVertexOutputs = 64;
  constexpr int kGuaranteedCaptures = 64;
  constexpr int kGuaranteedBlockBytes = 16384;
  RenderHarness harness(8, 8);
  ASSERT_TRUE(harness.Ready());
  for (int kernel = -1; kernel < 4; ++kernel) {
    SCOPED_TRACE(kernel < 0 ? std::string("general") : "kernel " + std::to_string(kernel));
    const GLuint vertex = StageAlone(GL_VERTEX_SHADER, shaders::tessarvanderVertex, kernel);
    const GLuint fragment = StageAlone(GL_FRAGMENT_SHADER, shaders::tessarvanderFragment, kernel);
    GLint linked[2] = {0, 0};
    glGetProgramiv(vertex, GL_LINK_STATUS, &linked[0]);
    glGetProgramiv(fragment, GL_LINK_STATUS, &linked[1]);
    ASSERT_TRUE(linked[0] && linked[1]);
    const int outputs = ComponentsOf(vertex, GL_PROGRAM_OUTPUT);
    EXPECT_GT(outputs, 4);  // the queries see the stage's own outputs
    EXPECT_LE(outputs, kGuaranteedVertexOutputs);
    EXPECT_LE(ComponentsOf(fragment, GL_PROGRAM_INPUT), kGuaranteedVertexOutputs);
    glDeleteProgram(vertex);
    glDeleteProgram(fragment);
  }
  const GLuint drawing = harness.Plugin().CurrentProgram().program;
  GLint blockBytes = 0;
  glGetActiveUniformBlockiv(drawing, glGetUniformBlockIndex(drawing, "LayerTable"), GL_UNIFORM_BLOCK_DATA_SIZE,
                            &blockBytes);
  EXPECT_GT(blockBytes, 0);
  EXPECT_LE(blockBytes, kGuaranteedBlockBytes);
  EXPECT_LE(ComponentsOf(harness.Plugin().tableProgram.program, GL_TRANSFORM_FEEDBACK_VARYING), kGuaranteedCaptures);
  EXPECT_EQ(ComponentsOf(harness.Plugin().tableProgram.program, GL_TRANSFORM_FEEDBACK_VARYING), 12);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
