#include "RenderHarness.h"

#include <cmath>
#include <map>
#include <sstream>

#include "ScreenQuad.h"
#include "ShaderProgram.h"

namespace testsupport {

namespace {
const char frameRecordBytes[32] = {};
}
const ProcessRecord* const kFrameRecord = reinterpret_cast<const ProcessRecord*>(frameRecordBytes);

RenderHarness::RenderHarness(int width, int height, const char* vertexSource, const char* fragmentSource) {
  if (vertexSource) plugin.vertexSource = vertexSource;
  if (fragmentSource) plugin.fragmentSource = fragmentSource;
  // Sources of their own read no per-layer table.
  if (vertexSource || fragmentSource) plugin.layerSource = nullptr;
  // Other stages than the plugin's own know no KERNEL: one program draws all.
  Start(width, height, vertexSource || fragmentSource ? Programs::General : Programs::PerKernel);
}

RenderHarness::RenderHarness(int width, int height, Programs programs) { Start(width, height, programs); }

void RenderHarness::Start(int width, int height, Programs programs) {
  plugin.specialiseKernels = programs == Programs::PerKernel;
  if (!SharedGlContext()) return;
  std::string error;
  if (!target.Create(width, height, hostkit::PixelFormat::Rgba32F, error)) return;
  target.Bind();
  ViewportRecord viewport{0, 0, static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  ready = plugin.InitialiseGL(&viewport) == FF_SUCCESS;
}

RenderHarness::~RenderHarness() {
  plugin.DeinitialiseGL();
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void RenderHarness::SetSettled(const std::vector<std::pair<uint32_t, float>>& parameters) {
  for (auto [index, value] : parameters) plugin.SetFloatParameter(index, value);
  plugin.SettleEasing();
}

bool RenderHarness::Frame() {
  target.Bind();
  return plugin.ProcessFrame(kFrameRecord) == FF_SUCCESS;
}

// From the drawing program, or, for a value only the per-layer table reads
// (the zoom), from the table's.
float RenderHarness::Uniform(const char* name) const {
  float value = NAN;
  for (GLuint program : {plugin.CurrentProgram().program, plugin.tableProgram.program}) {
    const GLint location = program ? glGetUniformLocation(program, name) : -1;
    if (location < 0) continue;
    glGetUniformfv(program, location, &value);
    break;
  }
  return value;
}

model::Uniforms RenderHarness::Uniforms() const {
  model::Uniforms u;
  u.time = Uniform("time");
  u.zoom = Uniform("zoom");
  u.speed = Uniform("speed");
  u.complexity = Uniform("complexity");
  u.branches = Uniform("branches");
  u.thickness = Uniform("thickness");
  u.glowAmount = Uniform("glowAmount");
  u.colorMode = Uniform("colorMode");
  u.manualHue = Uniform("manualHue");
  u.saturation = Uniform("saturation");
  u.brightness = Uniform("brightness");
  u.rotation = Uniform("rotation");
  u.centerX = Uniform("centerX");
  u.centerY = Uniform("centerY");
  u.crystalType = Uniform("crystalType");
  u.pulseAmount = Uniform("pulseAmount");
  u.pulseSpeed = Uniform("pulseSpeed");
  u.travelDirection = Uniform("travelDirection");
  u.depthLayers = Uniform("depthLayers");
  u.mirrorMode = Uniform("mirrorMode");
  float resolution[2] = {NAN, NAN};
  GLuint program = plugin.CurrentProgram().program;
  glGetUniformfv(program, glGetUniformLocation(program, "resolution"), resolution);
  u.width = resolution[0];
  u.height = resolution[1];
  return u;
}

std::vector<float> GpuSines(const std::vector<float>& arguments) {
  constexpr int kMaximum = 64;
  const char* vertex =
      "#version 410 core\n"
      "layout(location = 0) in vec4 position;\n"
      "void main() { gl_Position = position; }\n";
  const char* fragment =
      "#version 410 core\n"
      "uniform float arguments[64];\n"
      "out vec4 result;\n"
      "void main() { result = vec4(sin(arguments[int(gl_FragCoord.x)]), 0.0, 0.0, 1.0); }\n";
  ffglex::ShaderProgram program;
  ffglex::ScreenQuad quad;
  hostkit::FrameTarget target;
  std::string error;
  std::vector<float> sines;
  if (arguments.size() > kMaximum || !program.CompileVertexShader(vertex) || !program.CompileFragmentShader(fragment) ||
      !program.Link() || !quad.Initialise() || !target.Create(kMaximum, 1, hostkit::PixelFormat::Rgba32F, error)) {
    program.Release();
    quad.Release();
    return sines;
  }
  std::vector<float> padded(arguments);
  padded.resize(kMaximum, 0.0f);
  target.Bind();
  glUseProgram(program.program);
  glUniform1fv(glGetUniformLocation(program.program, "arguments"), kMaximum, padded.data());
  quad.Draw();
  glUseProgram(0);
  const std::vector<float> pixels = target.ReadRgba32F();
  for (size_t i = 0; i < arguments.size(); ++i) sines.push_back(pixels[i * 4]);
  program.Release();
  quad.Release();
  return sines;
}

model::Sine GpuSeedSine(const model::Uniforms& uniforms) {
  const std::vector<float> arguments = model::SeedArguments(uniforms);
  const std::vector<float> sines = GpuSines(arguments);
  std::map<float, float> table;
  for (size_t i = 0; i < sines.size(); ++i) table[arguments[i]] = sines[i];
  return [table](float n) {
    auto found = table.find(n);
    return found != table.end() ? found->second : std::sin(n);
  };
}

std::string PictureComparison::Describe() const {
  std::ostringstream text;
  text << outliers << " of " << pixels << " pixels beyond tolerance, " << nonFinite
       << " not finite, worst relative error " << worstError << ", mean " << meanError;
  return text.str();
}

PictureComparison ComparePicture(const std::vector<float>& gpu, const model::Uniforms& uniforms, int width,
                                 int height, float absolute, float relative) {
  PictureComparison result;
  const model::Sine seedSine = GpuSeedSine(uniforms);
  double errorSum = 0.0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const float* pixel = &gpu[(static_cast<size_t>(y) * width + x) * 4];
      const model::Color expected = model::Pixel(uniforms, x + 0.5f, y + 0.5f, seedSine);
      const float wanted[3] = {expected.r, expected.g, expected.b};
      ++result.pixels;
      bool finite = true, within = true;
      float pixelError = 0.0f;
      for (int c = 0; c < 3; ++c) {
        if (!std::isfinite(pixel[c])) finite = false;
        const float difference = std::fabs(pixel[c] - wanted[c]);
        if (difference > absolute + relative * std::fabs(wanted[c])) within = false;
        pixelError = std::max(pixelError, difference / std::max(1.0f, std::fabs(wanted[c])));
      }
      if (!finite) ++result.nonFinite;
      if (!finite || !within) ++result.outliers;
      if (finite) {
        result.worstError = std::max(result.worstError, pixelError);
        errorSum += pixelError;
      }
    }
  }
  result.meanError = static_cast<float>(errorSum / std::max(1, result.pixels));
  return result;
}

}  // namespace testsupport
