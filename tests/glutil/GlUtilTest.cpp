// ShaderProgram, ScreenQuad and the scope guards against a real GL context.
// GL calls are counted, or made to fail, by swapping GLEW's function pointers
// for the length of one test.
#include <GL/glew.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "GlTestContext.h"
#include "ScopedBindings.h"
#include "ScreenQuad.h"
#include "ShaderProgram.h"

namespace {

using ffglex::ScreenQuad;
using ffglex::ShaderProgram;

const char* kVertexSource =
    "#version 410 core\n"
    "layout(location = 0) in vec4 vPosition;\n"
    "void main() { gl_Position = vPosition; }\n";
const char* kWhiteFragment =
    "#version 410 core\n"
    "out vec4 color;\n"
    "void main() { color = vec4(1.0); }\n";
const char* kBrokenSource = "#version 410 core\nvoid main() { undeclared = 1.0; }\n";

// Replaces one GLEW entry point for the life of the object.
template <class Function>
class EntryPointSwap {
 public:
  EntryPointSwap(Function& slot, Function replacement) : slot(slot), original(slot) { slot = replacement; }
  ~EntryPointSwap() { slot = original; }

 private:
  Function& slot;
  Function original;
};

int deleteCalls = 0;
void GLAPIENTRY CountingDeleteShader(GLuint) { ++deleteCalls; }
void GLAPIENTRY CountingDeleteProgram(GLuint) { ++deleteCalls; }
void GLAPIENTRY NoVertexArrays(GLsizei count, GLuint* names) {
  for (GLsizei i = 0; i < count; ++i) names[i] = 0;
}
PFNGLGENBUFFERSPROC realGenBuffers = nullptr;
PFNGLDELETEBUFFERSPROC realDeleteBuffers = nullptr;
GLuint generatedBuffer = 0;
GLuint deletedBuffer = 0;
void GLAPIENTRY RecordingGenBuffers(GLsizei count, GLuint* names) {
  realGenBuffers(count, names);
  generatedBuffer = names[0];
}
void GLAPIENTRY RecordingDeleteBuffers(GLsizei count, const GLuint* names) {
  deletedBuffer = names[0];
  realDeleteBuffers(count, names);
}

std::string ShaderLog(GLuint shader) {
  GLint length = 0;
  glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<size_t>(length), '\0');
  glGetShaderInfoLog(shader, length, nullptr, log.data());
  return log.c_str();
}

std::string ProgramLog(GLuint program) {
  GLint length = 0;
  glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<size_t>(length), '\0');
  glGetProgramInfoLog(program, length, nullptr, log.data());
  return log.c_str();
}

class GlUtilTest : public testsupport::GlTest {};

// ---- ShaderProgram -----------------------------------------------------------

TEST_F(GlUtilTest, FailedCompilesReportTheDriversLogAndKeepTheName) {
  struct Case {
    bool vertex;
    const char* prefix;
  };
  for (const Case& c : {Case{true, "Vertex Shader error: "}, Case{false, "Fragment Shader error: "}}) {
    ShaderProgram program;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool compiled =
        c.vertex ? program.CompileVertexShader(kBrokenSource) : program.CompileFragmentShader(kBrokenSource);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(compiled);
    const GLuint name = c.vertex ? program.vertexShader : program.fragmentShader;
    ASSERT_NE(name, 0u);
    EXPECT_TRUE(glIsShader(name));
    const std::string log = ShaderLog(name);
    EXPECT_FALSE(log.empty());
    EXPECT_EQ(out, c.prefix + log + "\n");
    EXPECT_EQ(err, c.prefix + log + "\n") << "the debugger copy goes to standard error here";
    program.Release();
    EXPECT_FALSE(glIsShader(name));
  }
}

// Two stages that compile but do not link: each of `count` variables is a
// float out of the vertex stage and a vec2 into the fragment stage.
std::pair<std::string, std::string> MismatchedStages(int count) {
  std::string vertex = "#version 410 core\nlayout(location = 0) in vec4 position;\n";
  std::string fragment = "#version 410 core\nout vec4 color;\n";
  std::string writes, sum = "0.0";
  for (int i = 0; i < count; ++i) {
    const std::string name = "mismatchedInterfaceVariable" + std::to_string(i);
    vertex += "out float " + name + ";\n";
    fragment += "in vec2 " + name + ";\n";
    writes += name + " = 1.0; ";
    sum += " + " + name + ".x";
  }
  vertex += "void main() { gl_Position = position; " + writes + "}\n";
  fragment += "void main() { color = vec4(" + sum + "); }\n";
  return {vertex, fragment};
}

TEST_F(GlUtilTest, FailedLinksReportTheProgramLogWithTheFragmentPrefix) {
  struct Case {
    int variables;
    size_t shown;  // characters of the log that reach the message
  };
  for (const Case& c : {Case{1, std::string::npos}, Case{40, 1022}}) {
    const auto [vertex, fragment] = MismatchedStages(c.variables);
    ShaderProgram program;
    ASSERT_TRUE(program.CompileVertexShader(vertex.c_str()));
    ASSERT_TRUE(program.CompileFragmentShader(fragment.c_str()));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(program.Link());
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_NE(program.program, 0u);
    const std::string log = ProgramLog(program.program);
    if (c.shown != std::string::npos) {
      ASSERT_GT(log.size(), c.shown) << "the log must be long enough to be cut";
    }
    EXPECT_EQ(out, "Fragment Shader error: " + log.substr(0, c.shown) + "\n");
    program.Release();
  }
}

TEST_F(GlUtilTest, ReleaseDeletesWhatIsNamedOnceAndOnlyOnce) {
  ShaderProgram program;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(program.CompileVertexShader(kBrokenSource));
  testing::internal::GetCapturedStdout();
  deleteCalls = 0;
  {
    EntryPointSwap<PFNGLDELETESHADERPROC> shaders(__glewDeleteShader, CountingDeleteShader);
    EntryPointSwap<PFNGLDELETEPROGRAMPROC> programs(__glewDeleteProgram, CountingDeleteProgram);
    const GLuint vertex = program.vertexShader;
    program.Release();
    EXPECT_EQ(deleteCalls, 1) << "only the vertex shader was named";
    EXPECT_EQ(program.vertexShader, 0u);
    EXPECT_EQ(program.fragmentShader, 0u);
    EXPECT_EQ(program.program, 0u);
    program.Release();
    EXPECT_EQ(deleteCalls, 1) << "a second Release makes no GL call";
    glDeleteShader(vertex);  // counted, so delete it for real below
  }
  ShaderProgram built;
  ASSERT_TRUE(built.CompileVertexShader(kVertexSource));
  ASSERT_TRUE(built.CompileFragmentShader(kWhiteFragment));
  ASSERT_TRUE(built.Link());
  EXPECT_TRUE(glIsShader(built.vertexShader)) << "stages stay alive and attached after the link";
  EXPECT_TRUE(glIsShader(built.fragmentShader));
  GLint attached = 0;
  glGetProgramiv(built.program, GL_ATTACHED_SHADERS, &attached);
  EXPECT_EQ(attached, 2);
  built.Release();
}

// ---- ScreenQuad -------------------------------------------------------------

TEST_F(GlUtilTest, QuadUnbindsWhateverTheHostHadBound) {
  GLuint hostArray = 0, hostBuffer = 0;
  glGenVertexArrays(1, &hostArray);
  glGenBuffers(1, &hostBuffer);
  glBindVertexArray(hostArray);
  glBindBuffer(GL_ARRAY_BUFFER, hostBuffer);
  ScreenQuad quad;
  ASSERT_TRUE(quad.Initialise());
  testsupport::GlBindings bindings = testsupport::CurrentBindings();
  EXPECT_EQ(bindings.vertexArray, 0);
  EXPECT_EQ(bindings.arrayBuffer, 0);

  glBindVertexArray(hostArray);
  quad.Draw();
  EXPECT_EQ(testsupport::CurrentBindings().vertexArray, 0);
  quad.Release();
  glDeleteVertexArrays(1, &hostArray);
  glDeleteBuffers(1, &hostBuffer);
}

// What the quad's vertices and attributes are for: every pixel of the
// viewport covered once, with the texture coordinate running from (0, 0) at
// the lower-left corner to (1, 1) at the upper-right, so that each pixel
// centre reads ((x + 0.5) / width, (y + 0.5) / height). A wrong vertex, stride
// or offset shows as a wrong value; an empty quad draws nothing.
TEST_F(GlUtilTest, QuadCoversTheViewportWithItsTextureCoordinates) {
  constexpr int kWidth = 8, kHeight = 6;
  hostkit::FrameTarget target;
  std::string error;
  ASSERT_TRUE(target.Create(kWidth, kHeight, hostkit::PixelFormat::Rgba32F, error));
  ShaderProgram coordinates;
  ASSERT_TRUE(coordinates.CompileVertexShader(
      "#version 410 core\n"
      "layout(location = 0) in vec4 vPosition;\nlayout(location = 1) in vec2 vUV;\nout vec2 uv;\n"
      "void main() { uv = vUV; gl_Position = vPosition; }\n"));
  ASSERT_TRUE(coordinates.CompileFragmentShader(
      "#version 410 core\nin vec2 uv;\nout vec4 color;\nvoid main() { color = vec4(uv, gl_FragCoord.z, 1.0); }\n"));
  ASSERT_TRUE(coordinates.Link());
  target.Bind();
  glClearColor(-1, -1, -1, -1);
  glClear(GL_COLOR_BUFFER_BIT);
  glUseProgram(coordinates.program);

  ScreenQuad empty;
  empty.Draw();
  for (float value : target.ReadRgba32F()) ASSERT_EQ(value, -1.0f) << "nothing drawn";

  ScreenQuad quad;
  ASSERT_TRUE(quad.Initialise());
  quad.Draw();
  const std::vector<float> pixels = target.ReadRgba32F();
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const float* pixel = &pixels[(static_cast<size_t>(y) * kWidth + x) * 4];
      EXPECT_NEAR(pixel[0], (x + 0.5f) / kWidth, 1e-5f) << x << "," << y;
      EXPECT_NEAR(pixel[1], (y + 0.5f) / kHeight, 1e-5f) << x << "," << y;
      EXPECT_NEAR(pixel[2], 0.5f, 1e-5f) << "depth 0 in clip space";
    }
  glUseProgram(0);
  quad.Release();
  coordinates.Release();
}

TEST_F(GlUtilTest, QuadWithoutAVertexArrayGivesItsBufferBack) {
  ScreenQuad quad;
  {
    EntryPointSwap<PFNGLGENVERTEXARRAYSPROC> noArrays(__glewGenVertexArrays, NoVertexArrays);
    realGenBuffers = __glewGenBuffers;
    realDeleteBuffers = __glewDeleteBuffers;
    EntryPointSwap<PFNGLGENBUFFERSPROC> generated(__glewGenBuffers, RecordingGenBuffers);
    EntryPointSwap<PFNGLDELETEBUFFERSPROC> deleted(__glewDeleteBuffers, RecordingDeleteBuffers);
    EXPECT_FALSE(quad.Initialise());
  }
  EXPECT_NE(generatedBuffer, 0u);
  EXPECT_EQ(deletedBuffer, generatedBuffer) << "the buffer it did get is deleted";
  EXPECT_EQ(quad.vertexArray, 0u);
  EXPECT_EQ(quad.vertexBuffer, 0u);
  quad.Release();
  quad.Release();
  EXPECT_EQ(quad.vertexArray, 0u);
  EXPECT_EQ(quad.vertexBuffer, 0u);
}

// ---- Scope guards -----------------------------------------------------------

TEST_F(GlUtilTest, GuardsBindZeroWhenTheyEnd) {
  GLuint buffer = 0, other = 0, array = 0;
  glGenBuffers(1, &buffer);
  glGenBuffers(1, &other);
  glGenVertexArrays(1, &array);
  ShaderProgram program;
  ASSERT_TRUE(program.CompileVertexShader(kVertexSource));
  ASSERT_TRUE(program.CompileFragmentShader(kWhiteFragment));
  ASSERT_TRUE(program.Link());

  const GLenum targets[][2] = {{GL_ARRAY_BUFFER, GL_ARRAY_BUFFER_BINDING},
                               {GL_PIXEL_PACK_BUFFER, GL_PIXEL_PACK_BUFFER_BINDING},
                               {GL_UNIFORM_BUFFER, GL_UNIFORM_BUFFER_BINDING}};
  for (const auto& target : targets) {
    glBindBuffer(target[0], other);
    GLint bound = -1;
    {
      ffglex::ScopedBufferBinding guard(target[0], buffer);
      glGetIntegerv(target[1], &bound);
      EXPECT_EQ(static_cast<GLuint>(bound), buffer);
    }
    glGetIntegerv(target[1], &bound);
    EXPECT_EQ(bound, 0) << "target " << target[0];
  }
  {
    ffglex::ScopedVBOBinding guard(buffer);
    EXPECT_EQ(testsupport::CurrentBindings().arrayBuffer, static_cast<int>(buffer));
  }
  EXPECT_EQ(testsupport::CurrentBindings().arrayBuffer, 0);

  glBindVertexArray(array);
  { ffglex::ScopedVAOBinding guard(array); }
  EXPECT_EQ(testsupport::CurrentBindings().vertexArray, 0);

  glUseProgram(program.program);
  {
    ffglex::ScopedShaderBinding guard(program.program);
    EXPECT_EQ(testsupport::CurrentBindings().program, static_cast<int>(program.program));
  }
  EXPECT_EQ(testsupport::CurrentBindings().program, 0);

  program.Release();
  glDeleteBuffers(1, &buffer);
  glDeleteBuffers(1, &other);
  glDeleteVertexArrays(1, &array);
}

}  // namespace
