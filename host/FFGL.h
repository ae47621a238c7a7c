// The FreeFrame GL 2.1 binary interface as this plugin speaks it: the function
// codes, the 64-bit value that crosses plugMain, and every host record.
//
// Layouts are little-endian with the natural alignment of a 64-bit build; the
// byte offsets are part of the interface, so each record is pinned with
// static_asserts below. Only the entry point (FFGLEntry.cpp) and code that
// plays the host (tools, tests) include this file; the plugin classes see
// plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "FFGLTypes.h"

#if defined(_WIN32)
#define FFGL_EXPORT __declspec(dllexport)
#else
#define FFGL_EXPORT __attribute__((visibility("default")))
#endif

// The function codes that plugMain answers. Every other code is answered with
// FF_FAIL.
enum class FunctionCode : uint32_t {
  GetInfo = 0,
  Deinitialise = 2,
  GetParameterCount = 4,
  GetParameterName = 5,
  GetParameterDefault = 6,
  GetParameterDisplay = 7,
  SetParameter = 8,
  GetParameter = 9,
  GetCapability = 10,
  GetExtendedInfo = 13,
  GetParameterType = 15,
  GetInputStatus = 16,
  ProcessFrame = 17,
  InstantiateGL = 18,
  DeinstantiateGL = 19,
  SetTime = 20,
  Connect = 21,
  Disconnect = 22,
  Resize = 23,
  GetElementCount = 31,
  GetParameterUsage = 32,
  GetPluginData = 33,
  Initialise = 34,
  GetElementName = 35,
  GetElementValue = 36,
  SetElementValue = 37,
  SetBeatInfo = 38,
  SetHostInfo = 39,
  SetSampleRate = 40,
  GetParameterRange = 41,
  GetThumbnail = 42,
  GetExtensionCount = 43,
  GetExtension = 44,
  GetParameterVisibility = 45,
  GetParameterEvents = 46,
  GetSeparatorCount = 47,
  GetSeparator = 48,
  EnableCapability = 49,
  GetParameterGroup = 50,
  GetParameterDisplayName = 51,
};

// Capability numbers answered by GetCapability and EnableCapability.
constexpr uint32_t FF_CAP_5 = 5;
constexpr uint32_t FF_CAP_MINIMUM_INPUTS = 10;
constexpr uint32_t FF_CAP_MAXIMUM_INPUTS = 11;
constexpr uint32_t FF_CAP_16 = 16;

// The 64-bit value passed to and returned by plugMain: a 32-bit unsigned value
// in the low half, or a pointer filling all 64 bits.
union PlugMainValue {
  uint64_t bits;
  uint32_t uintValue;
  void* pointerValue;
};
static_assert(sizeof(PlugMainValue) == 8, "plugMain values are 64 bits wide");

// A 32-bit value in the low half, the upper half zero.
inline PlugMainValue PlugMainValueOf(uint32_t value) {
  PlugMainValue result;
  result.bits = value;
  return result;
}

inline PlugMainValue PlugMainValueOf(const void* pointer) {
  PlugMainValue result;
  result.bits = 0;
  result.pointerValue = const_cast<void*>(pointer);
  return result;
}

// A float answer travels as its bit pattern in the low half.
inline PlugMainValue PlugMainValueOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return PlugMainValueOf(bits);
}

inline float FloatOf(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The instance handle: the address of an instance made by InstantiateGL.
using InstanceHandle = void*;

using PlugMainFunction = PlugMainValue (*)(uint32_t functionCode, PlugMainValue input, InstanceHandle instance);
using LogCallbackFunction = void (*)(const char* message);
using SetLogCallbackFunction = void (*)(LogCallbackFunction callback);

// ---- Identity records (GetInfo, GetExtendedInfo) -------------------------

struct PluginInfoRecord {
  uint32_t apiMajorVersion;
  uint32_t apiMinorVersion;
  char uniqueId[4];     // not terminated
  char pluginName[16];  // terminated only when shorter than 16
  uint32_t pluginType;
};
static_assert(sizeof(PluginInfoRecord) == 32, "PluginInfoRecord is 32 bytes");
static_assert(offsetof(PluginInfoRecord, uniqueId) == 8, "PluginInfoRecord layout");
static_assert(offsetof(PluginInfoRecord, pluginName) == 12, "PluginInfoRecord layout");
static_assert(offsetof(PluginInfoRecord, pluginType) == 28, "PluginInfoRecord layout");

struct PluginExtendedInfoRecord {
  uint32_t pluginMajorVersion;
  uint32_t pluginMinorVersion;
  const char* description;
  const char* about;
  uint32_t extendedDataSize;
  uint32_t alignmentGap;
  void* extendedData;
};
static_assert(sizeof(PluginExtendedInfoRecord) == 40, "PluginExtendedInfoRecord is 40 bytes");
static_assert(offsetof(PluginExtendedInfoRecord, description) == 8, "PluginExtendedInfoRecord layout");
static_assert(offsetof(PluginExtendedInfoRecord, about) == 16, "PluginExtendedInfoRecord layout");
static_assert(offsetof(PluginExtendedInfoRecord, extendedDataSize) == 24, "PluginExtendedInfoRecord layout");
static_assert(offsetof(PluginExtendedInfoRecord, extendedData) == 32, "PluginExtendedInfoRecord layout");

// ---- Instance records -----------------------------------------------------

struct BeatRecord {
  float bpm;
  float barPhase;
};
static_assert(sizeof(BeatRecord) == 8, "BeatRecord is 8 bytes");

struct HostInfoRecord {
  const char* name;
  const char* version;
};
static_assert(sizeof(HostInfoRecord) == 16, "HostInfoRecord is 16 bytes");

struct ThumbnailRecord {
  uint32_t width;   // out
  uint32_t height;  // out
  void* pixels;     // in, may be null
};
static_assert(sizeof(ThumbnailRecord) == 16, "ThumbnailRecord is 16 bytes");

// ---- Parameter records ----------------------------------------------------

struct ParameterValueRecord {
  uint32_t index;
  uint32_t padding;
  union {
    uint64_t bits;
    float floatValue;       // numeric parameters, low 4 bytes
    const char* textValue;  // string-valued parameters
  } value;
};
static_assert(sizeof(ParameterValueRecord) == 16, "ParameterValueRecord is 16 bytes");
static_assert(offsetof(ParameterValueRecord, value) == 8, "ParameterValueRecord layout");

struct RangeRecord {
  uint32_t index;  // in
  float minimum;   // out
  float maximum;   // out
};
static_assert(sizeof(RangeRecord) == 12, "RangeRecord is 12 bytes");

struct ElementAddressRecord {
  uint32_t parameterIndex;
  uint32_t position;
};
static_assert(sizeof(ElementAddressRecord) == 8, "ElementAddressRecord is 8 bytes");

struct ElementValueRecord {
  uint32_t parameterIndex;
  uint32_t position;
  float value;
};
static_assert(sizeof(ElementValueRecord) == 12, "ElementValueRecord is 12 bytes");

struct ParameterEventEntry {
  uint32_t index;
  uint32_t padding;
  uint64_t eventFlags;
};
static_assert(sizeof(ParameterEventEntry) == 16, "ParameterEventEntry is 16 bytes");

struct EventBatchRecord {
  uint32_t entryCount;  // in: capacity of entries; out: entries written or pending
  uint32_t padding;
  ParameterEventEntry* entries;  // may be null
};
static_assert(sizeof(EventBatchRecord) == 16, "EventBatchRecord is 16 bytes");

struct TextRequestRecord {
  uint32_t index;
  uint32_t padding;
  char* buffer;
  uint32_t bufferSize;
  uint32_t padding2;
};
static_assert(sizeof(TextRequestRecord) == 24, "TextRequestRecord is 24 bytes");
static_assert(offsetof(TextRequestRecord, bufferSize) == 16, "TextRequestRecord layout");
