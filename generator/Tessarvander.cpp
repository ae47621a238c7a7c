// Identity, factory and parameters of the plugin. The render pass is in
// RenderPass.cpp.
#include "Tessarvander.h"

#include <cmath>

#include "ParameterTable.h"
#include "PluginRegistration.h"
#include "ShaderSources.h"

namespace {

// Each parameter's members, by index, from the same rows as the class.
#define TESSARVANDER_EASED_POINTER_EASED(Stem) &Tessarvander::eased##Stem
#define TESSARVANDER_EASED_POINTER_HELD(Stem) nullptr
#define TESSARVANDER_PARAMETER(index, Stem, name, defaultValue, uniform, scaling, easing, bands, units) \
  {&Tessarvander::param##Stem, TESSARVANDER_EASED_POINTER_##easing(Stem)},
const struct {
  float Tessarvander::*value;
  float Tessarvander::*eased;
} kMembers[] = {
#include "Parameters.def"
};
#undef TESSARVANDER_PARAMETER
#undef TESSARVANDER_EASED_POINTER_EASED
#undef TESSARVANDER_EASED_POINTER_HELD
static_assert(sizeof kMembers / sizeof kMembers[0] == tessarvander::kParameterCount);

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

Tessarvander::Tessarvander()
    : vertexSource(shaders::tessarvanderVertex),
      fragmentSource(shaders::tessarvanderFragment),
      layerSource(shaders::tessarvanderLayers) {
  for (const tessarvander::ParameterRow& row : tessarvander::kParameterRows)
    RegisterParameter(row.index, row.name, row.defaultValue);
}

Tessarvander::~Tessarvander() = default;

float* Tessarvander::ParameterMember(uint32_t index) noexcept {
  if (index >= tessarvander::kParameterCount) return nullptr;
  return &(this->*kMembers[index].value);
}

float* Tessarvander::EasedMember(uint32_t index) noexcept {
  if (index >= tessarvander::kParameterCount || !kMembers[index].eased) return nullptr;
  return &(this->*kMembers[index].eased);
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
