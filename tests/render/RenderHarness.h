// Drives one in-process Tessarvander instance in the test GL context, into a
// floating-point frame buffer, and reads back what the shader was given.
#pragma once

#include <GL/glew.h>

#include <string>
#include <utility>
#include <vector>

#include "FractalModel.h"
#include "hostkit/FrameTarget.h"
#include "GlTestContext.h"
#include "Tessarvander.h"

namespace testsupport {

// A dummy per-frame record: the plugin only checks that there is one.
extern const ProcessRecord* const kFrameRecord;

// Which programs the plugin builds: one per kernel, as it ships, or the
// general one that draws every kernel and reads every uniform (for the tests
// that read the uniforms back: a kernel's program leaves the uniforms it does
// not use inactive).
enum class Programs { PerKernel, General };

class RenderHarness {
 public:
  // The plugin's own shader stages, unless others are given.
  RenderHarness(int width, int height, const char* vertexSource = nullptr, const char* fragmentSource = nullptr);
  RenderHarness(int width, int height, Programs programs);
  ~RenderHarness();

  bool Ready() const { return ready; }
  Tessarvander& Plugin() { return plugin; }

  // Sets parameters by index, and jumps the eased values to their targets so
  // that one frame shows them fully.
  void SetSettled(const std::vector<std::pair<uint32_t, float>>& parameters);
  // One process call into the frame buffer; false when the plugin fails it.
  bool Frame();

  std::vector<float> ReadPixels() const { return target.ReadRgba32F(); }
  // The value of a float uniform as the program holds it now.
  float Uniform(const char* name) const;
  // Every uniform as the program holds it now.
  model::Uniforms Uniforms() const;

  int Width() const { return target.Width(); }
  int Height() const { return target.Height(); }

 private:
  void Start(int width, int height, Programs programs);
  Tessarvander plugin;
  hostkit::FrameTarget target;
  bool ready = false;
};

// The GPU's sin at each argument, evaluated by a probe shader of its own.
std::vector<float> GpuSines(const std::vector<float>& arguments);

// A sine for the model that answers the GPU's value at the seed arguments of
// a picture with these uniforms.
model::Sine GpuSeedSine(const model::Uniforms& uniforms);

// How far a GPU picture is from the model's picture of the same uniforms.
struct PictureComparison {
  int pixels = 0;
  int nonFinite = 0;
  int outliers = 0;         // pixels beyond the per-pixel tolerance
  float worstError = 0.0f;  // largest relative channel error
  float meanError = 0.0f;
  std::string Describe() const;
};

// Per channel, |gpu - model| <= absolute + relative * |model| passes.
// The model takes its seed sines from the GPU (see model::Sine).
PictureComparison ComparePicture(const std::vector<float>& gpu, const model::Uniforms& uniforms, int width,
                                 int height, float absolute, float relative);

}  // namespace testsupport
