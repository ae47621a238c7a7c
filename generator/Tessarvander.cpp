// Identity, factory and parameters of the plugin. The render pass is in
// RenderPass.cpp.
#include "Tessarvander.h"

#include <cmath>

#include "PluginRegistration.h"
#include "ShaderSources.h"

namespace {

struct ParameterDefinition {
  uint32_t index;
  const char* name;
  float defaultValue;
  float Tessarvander::*member;
};

// By index. The default is both the registered default and the member's
// initial value.
const ParameterDefinition kParameters[] = {
    {0, "Speed", 0.3f, &Tessarvander::paramSpeed},
    {1, "Direction", 1.0f, &Tessarvander::paramDirection},
    {2, "Zoom", 0.5f, &Tessarvander::paramZoom},
    {3, "Fractal Type", 0.5f, &Tessarvander::paramFractalType},
    {4, "Mirror", 0.0f, &Tessarvander::paramMirror},
    {5, "Complexity", 0.5f, &Tessarvander::paramComplexity},
    {6, "Branches", 0.5f, &Tessarvander::paramBranches},
    {7, "Thickness", 0.3f, &Tessarvander::paramThickness},
    {8, "Glow", 0.5f, &Tessarvander::paramGlow},
    {9, "Color Mode", 0.1f, &Tessarvander::paramColorMode},
    {10, "Hue", 0.6f, &Tessarvander::paramHue},
    {11, "Saturation", 0.8f, &Tessarvander::paramSaturation},
    {12, "Brightness", 0.5f, &Tessarvander::paramBrightness},
    {13, "Rotation", 0.0f, &Tessarvander::paramRotation},
    {14, "Center X", 0.5f, &Tessarvander::paramCenterX},
    {15, "Center Y", 0.5f, &Tessarvander::paramCenterY},
    {16, "Pulse Amount", 0.0f, &Tessarvander::paramPulseAmount},
    {17, "Pulse Speed", 0.5f, &Tessarvander::paramPulseSpeed},
    {18, "Depth Layers", 0.5f, &Tessarvander::paramDepthLayers},
};
constexpr uint32_t kParameterCount = sizeof kParameters / sizeof kParameters[0];

const bool registered = [] {
  PluginIdentity identity{};
  identity.uniqueId = "QLMB";
  // Seventeen characters: the name field keeps "ORVO Tessarvande".
  identity.name = "ORVO Tessarvander";
  identity.apiMajorVersion = 2;
  identity.apiMinorVersion = 1;
  identity.pluginMajorVersion = 1;
  identity.pluginMinorVersion = 2;
  identity.pluginType = FF_PLUGIN_TYPE_SOURCE;
  identity.description = "Infinite Fractal Space Travel - Ferrofluid, Julia, Kaleidoscope, Mandelbrot";
  identity.about = "By ORVO";
  identity.extendedDataSize = 0;
  identity.extendedData = nullptr;
  RegisterPlugin(CreateInstance, identity);
  return true;
}();

}  // namespace

FFResult CreateInstance(CFFGLPlugin** instance) {
  *instance = new Tessarvander();
  return *instance ? FF_SUCCESS : FF_FAIL;
}

Tessarvander::Tessarvander() : vertexSource(shaders::tessarvanderVertex), fragmentSource(shaders::tessarvanderFragment) {
  for (const ParameterDefinition& parameter : kParameters) {
    this->*parameter.member = parameter.defaultValue;
    RegisterParameter(parameter.index, parameter.name, parameter.defaultValue);
  }
}

Tessarvander::~Tessarvander() = default;

float* Tessarvander::ParameterMember(uint32_t index) noexcept {
  if (index >= kParameterCount) return nullptr;
  return &(this->*kParameters[index].member);
}

FFResult Tessarvander::SetFloatParameter(uint32_t index, float value) noexcept {
  float* member = ParameterMember(index);
  if (!member || !std::isfinite(value)) return FF_FAIL;
  *member = value;
  return FF_SUCCESS;
}

float Tessarvander::GetFloatParameter(uint32_t index) noexcept {
  const float* member = ParameterMember(index);
  return member ? *member : 0.0f;
}
