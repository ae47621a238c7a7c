// CFFGLPluginManager: the parameter registry that every plugin instance
// carries. A plugin class fills it in its constructor, one RegisterParameter
// call per parameter; the entry point answers the host's parameter questions
// from it. It holds descriptions and defaults only: current values live in the
// plugin class and are read through its Get*Parameter operations.
//
// Who calls: the plugin constructor registers; the entry point reads, and
// writes only element values and event flags. All on the host's render thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FFGLTypes.h"

struct ParameterElement {
  std::string name;
  float value = 0.0f;
};

struct ParameterRecord {
  uint32_t index = 0;
  std::string name;
  std::string displayName;
  uint32_t type = FF_TYPE_STANDARD;
  std::vector<ParameterElement> elements;
  std::vector<uint32_t> separators;
  uint32_t usage = 0;
  bool visible = true;
  float minimum = 0.0f;
  float maximum = 1.0f;
  float defaultValue = 0.0f;
  std::string defaultText;
  std::vector<std::string> fileExtensions;
  uint64_t eventFlags = 0;
  std::string group;
};

class CFFGLPluginManager {
 public:
  CFFGLPluginManager() = default;
  virtual ~CFFGLPluginManager() = default;

  CFFGLPluginManager(const CFFGLPluginManager&) = delete;
  CFFGLPluginManager& operator=(const CFFGLPluginManager&) = delete;

  // Appends a numeric parameter with range 0..1, one empty element, and the
  // default clamped into 0..1 (a NaN default stays NaN). Duplicate indices are
  // not checked: lookups then find the first record.
  void RegisterParameter(uint32_t index, const char* name, float defaultValue);

  // The first record with this index, or null.
  const ParameterRecord* FindParameter(uint32_t index) const noexcept;
  ParameterRecord* FindParameter(uint32_t index) noexcept;

  uint32_t ParameterCount() const noexcept { return static_cast<uint32_t>(parameters.size()); }

  // The parameter descriptions in registration order.
  std::vector<ParameterRecord> parameters;

  // Plugin-level capability values.
  int32_t minimumInputs = 0;
  int32_t maximumInputs = 0;
  bool capability5 = true;
  bool capability16 = false;
  int32_t capability16Enabled = 0;
};
