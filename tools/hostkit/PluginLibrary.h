// The host's side of the plugin interface: loads a plugin library, talks to
// it only through plugMain with the interface's records, and wraps an
// instance's life (create, frames, destroy) in an object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FFGL.h"
#include "formats/PluginDescription.h"

namespace hostkit {

// What the loader reads of a plugin.
using tool::ParameterDescription;
using tool::PluginDescription;

class PluginLibrary {
 public:
  // Loads the library and finds plugMain; null with a one-line reason.
  static std::unique_ptr<PluginLibrary> Open(const std::string& path, std::string& error);
  // Ends the plugin (code 2) and unloads it. Instances must be gone first.
  ~PluginLibrary();

  PlugMainValue Call(FunctionCode code, PlugMainValue input, InstanceHandle instance = nullptr) const;
  uint32_t CallWithValue(FunctionCode code, uint32_t input, InstanceHandle instance = nullptr) const;
  uint32_t CallWithRecord(FunctionCode code, const void* record, InstanceHandle instance = nullptr) const;

  // Codes 0 and 13. False, with a reason, when the plugin does not answer.
  bool ReadDescription(PluginDescription& description, std::string& error) const;
  // Codes 4, 5, 6, 15 and 41 for every parameter.
  std::vector<ParameterDescription> ReadParameters() const;

  const std::string& Path() const { return path; }

 private:
  PluginLibrary() = default;
  std::string path;
  void* handle = nullptr;
  PlugMainFunction plugMain = nullptr;
};

// One plugin instance, made with code 18 and destroyed with code 19.
// Every call needs the GL context that the instance was made in to be current.
class PluginInstance {
 public:
  static std::unique_ptr<PluginInstance> Create(const PluginLibrary& library, const ViewportRecord& viewport,
                                                std::string& error);
  ~PluginInstance();
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  bool SetParameter(uint32_t index, float value) const;
  float GetParameter(uint32_t index) const;
  // The display text (code 7), read as the 16-byte field it is.
  std::string DisplayText(uint32_t index) const;
  bool SetTime(double seconds) const;
  bool SetBeatInfo(float beatsPerMinute, float barPhase) const;
  bool Resize(const ViewportRecord& viewport) const;
  // Code 17 into the frame buffer and viewport bound now.
  bool ProcessFrame() const;

  InstanceHandle Handle() const { return handle; }

 private:
  PluginInstance(const PluginLibrary& library, InstanceHandle handle) : library(library), handle(handle) {}
  const PluginLibrary& library;
  InstanceHandle handle;
};

// Reads a fixed-size text field that is terminated only when shorter.
std::string FixedField(const char* field, size_t size);

}  // namespace hostkit
