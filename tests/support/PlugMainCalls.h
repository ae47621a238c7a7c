// Calls into the entry point linked into the test executable.
#pragma once

#include <cstring>

#include "FFGL.h"

extern "C" PlugMainValue plugMain(uint32_t functionCode, PlugMainValue input, InstanceHandle instance);
extern "C" void SetLogCallback(LogCallbackFunction callback);

namespace testsupport {

inline PlugMainValue CallRaw(FunctionCode code, uint64_t input = 0, InstanceHandle instance = nullptr) {
  PlugMainValue value;
  value.bits = input;
  return plugMain(static_cast<uint32_t>(code), value, instance);
}

inline uint32_t Call(FunctionCode code, uint32_t input = 0, InstanceHandle instance = nullptr) {
  return CallRaw(code, input, instance).uintValue;
}

inline uint32_t CallWith(FunctionCode code, const void* record, InstanceHandle instance = nullptr) {
  return CallRaw(code, reinterpret_cast<uintptr_t>(record), instance).uintValue;
}

inline void* CallForPointer(FunctionCode code, uint32_t input = 0, InstanceHandle instance = nullptr) {
  return CallRaw(code, input, instance).pointerValue;
}

inline float AsFloat(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace testsupport
