#include "hostkit/PluginLibrary.h"

#include <cstring>
#include <fstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace hostkit {
namespace {

// The host's per-frame record. A source plugin reads none of it, but a host
// always passes one.
struct HostFrameRecord {
  uint32_t inputTextureCount = 0;
  uint32_t reserved = 0;
  const void* inputTextures = nullptr;
  uint32_t hostFrameBuffer = 0;
  uint32_t reserved2 = 0;
};

void* LoadLibraryFile(const std::string& path, std::string& error) {
#if defined(_WIN32)
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) error = "cannot load the plugin " + path + " (Windows error " + std::to_string(GetLastError()) + ")";
  return reinterpret_cast<void*>(module);
#else
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) error = std::string("cannot load the plugin: ") + dlerror();
  return handle;
#endif
}

void* FindSymbol(void* library, const char* name) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
#else
  return dlsym(library, name);
#endif
}

void UnloadLibraryFile(void* library) {
#if defined(_WIN32)
  FreeLibrary(reinterpret_cast<HMODULE>(library));
#else
  dlclose(library);
#endif
}

}  // namespace

std::string FixedField(const char* field, size_t size) {
  size_t length = 0;
  while (length < size && field[length] != '\0') ++length;
  return std::string(field, length);
}

std::unique_ptr<PluginLibrary> PluginLibrary::Open(const std::string& path, std::string& error) {
  if (!std::ifstream(path).good()) {
    error = "no plugin at " + path + " (build it first, or name one with --plugin)";
    return nullptr;
  }
  void* handle = LoadLibraryFile(path, error);
  if (!handle) return nullptr;
  auto plugMain = reinterpret_cast<PlugMainFunction>(FindSymbol(handle, "plugMain"));
  if (!plugMain) {
    UnloadLibraryFile(handle);
    error = path + " is not a FreeFrame GL plugin: it exports no plugMain";
    return nullptr;
  }
  std::unique_ptr<PluginLibrary> library(new PluginLibrary());
  library->path = path;
  library->handle = handle;
  library->plugMain = plugMain;
  return library;
}

PluginLibrary::~PluginLibrary() {
  CallWithValue(FunctionCode::Deinitialise, 0);
  UnloadLibraryFile(handle);
}

PlugMainValue PluginLibrary::Call(FunctionCode code, PlugMainValue input, InstanceHandle instance) const {
  return plugMain(static_cast<uint32_t>(code), input, instance);
}

uint32_t PluginLibrary::CallWithValue(FunctionCode code, uint32_t input, InstanceHandle instance) const {
  return Call(code, PlugMainValueOf(input), instance).uintValue;
}

uint32_t PluginLibrary::CallWithRecord(FunctionCode code, const void* record, InstanceHandle instance) const {
  return Call(code, PlugMainValueOf(record), instance).uintValue;
}

bool PluginLibrary::ReadDescription(PluginDescription& description, std::string& error) const {
  const auto* info = static_cast<const PluginInfoRecord*>(Call(FunctionCode::GetInfo, PlugMainValueOf(0u)).pointerValue);
  const auto* extended =
      static_cast<const PluginExtendedInfoRecord*>(Call(FunctionCode::GetExtendedInfo, PlugMainValueOf(0u)).pointerValue);
  if (!info || info == reinterpret_cast<const void*>(uintptr_t{FF_FAIL})) {
    error = path + " answers no plugin information";
    return false;
  }
  description.uniqueId = FixedField(info->uniqueId, sizeof info->uniqueId);
  description.name = FixedField(info->pluginName, sizeof info->pluginName);
  description.apiMajorVersion = info->apiMajorVersion;
  description.apiMinorVersion = info->apiMinorVersion;
  description.pluginType = info->pluginType;
  if (extended && extended != reinterpret_cast<const void*>(uintptr_t{FF_FAIL})) {
    description.pluginMajorVersion = extended->pluginMajorVersion;
    description.pluginMinorVersion = extended->pluginMinorVersion;
    description.description = extended->description ? extended->description : "";
    description.about = extended->about ? extended->about : "";
  }
  return true;
}

std::vector<ParameterDescription> PluginLibrary::ReadParameters() const {
  std::vector<ParameterDescription> parameters;
  const uint32_t count = CallWithValue(FunctionCode::GetParameterCount, 0);
  if (count == FF_FAIL) return parameters;
  for (uint32_t index = 0; index < count; ++index) {
    ParameterDescription parameter;
    parameter.index = index;
    const auto* name = static_cast<const char*>(Call(FunctionCode::GetParameterName, PlugMainValueOf(index)).pointerValue);
    parameter.name = name ? name : "";
    parameter.type = CallWithValue(FunctionCode::GetParameterType, index);
    parameter.defaultValue = FloatOf(CallWithValue(FunctionCode::GetParameterDefault, index));
    RangeRecord range{index, 0.0f, 1.0f};
    if (CallWithRecord(FunctionCode::GetParameterRange, &range) == FF_SUCCESS) {
      parameter.minimum = range.minimum;
      parameter.maximum = range.maximum;
    }
    parameters.push_back(parameter);
  }
  return parameters;
}

std::unique_ptr<PluginInstance> PluginInstance::Create(const PluginLibrary& library, const ViewportRecord& viewport,
                                                       std::string& error) {
  PlugMainValue answer = library.Call(FunctionCode::InstantiateGL, PlugMainValueOf(&viewport));
  if (answer.pointerValue == nullptr || answer.bits == FF_FAIL) {
    error = "the plugin refused to create an instance (GL set-up failed; see any shader message above)";
    return nullptr;
  }
  return std::unique_ptr<PluginInstance>(new PluginInstance(library, answer.pointerValue));
}

PluginInstance::~PluginInstance() { library.CallWithValue(FunctionCode::DeinstantiateGL, 0, handle); }

bool PluginInstance::SetParameter(uint32_t index, float value) const {
  ParameterValueRecord record{};
  record.index = index;
  record.value.bits = 0;
  record.value.floatValue = value;
  return library.CallWithRecord(FunctionCode::SetParameter, &record, handle) == FF_SUCCESS;
}

float PluginInstance::GetParameter(uint32_t index) const {
  return FloatOf(library.CallWithValue(FunctionCode::GetParameter, index, handle));
}

std::string PluginInstance::DisplayText(uint32_t index) const {
  PlugMainValue answer = library.Call(FunctionCode::GetParameterDisplay, PlugMainValueOf(index), handle);
  if (!answer.pointerValue || answer.bits == FF_FAIL) return "";
  return FixedField(static_cast<const char*>(answer.pointerValue), 16);
}

bool PluginInstance::SetTime(double seconds) const {
  return library.CallWithRecord(FunctionCode::SetTime, &seconds, handle) == FF_SUCCESS;
}

bool PluginInstance::SetBeatInfo(float beatsPerMinute, float barPhase) const {
  BeatRecord beat{beatsPerMinute, barPhase};
  return library.CallWithRecord(FunctionCode::SetBeatInfo, &beat, handle) == FF_SUCCESS;
}

bool PluginInstance::Resize(const ViewportRecord& viewport) const {
  return library.CallWithRecord(FunctionCode::Resize, &viewport, handle) == FF_SUCCESS;
}

bool PluginInstance::ProcessFrame() const {
  HostFrameRecord record;
  return library.CallWithRecord(FunctionCode::ProcessFrame, &record, handle) == FF_SUCCESS;
}

}  // namespace hostkit
