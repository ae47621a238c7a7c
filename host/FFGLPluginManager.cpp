#include "FFGLPluginManager.h"

#include <utility>

void CFFGLPluginManager::RegisterParameter(uint32_t index, const char* name, float defaultValue) {
  ParameterRecord record;
  record.index = index;
  record.name = name ? name : "";
  record.elements.push_back(ParameterElement{});
  // Written as two replacing comparisons so that a NaN default, which fails
  // both, is stored unchanged.
  float clamped = defaultValue;
  if (clamped > 1.0f) clamped = 1.0f;
  if (clamped < 0.0f) clamped = 0.0f;
  record.defaultValue = clamped;
  parameters.push_back(std::move(record));
}

const ParameterRecord* CFFGLPluginManager::FindParameter(uint32_t index) const noexcept {
  for (const ParameterRecord& record : parameters)
    if (record.index == index) return &record;
  return nullptr;
}

ParameterRecord* CFFGLPluginManager::FindParameter(uint32_t index) noexcept {
  for (ParameterRecord& record : parameters)
    if (record.index == index) return &record;
  return nullptr;
}
