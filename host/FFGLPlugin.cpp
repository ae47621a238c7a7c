#include "FFGLPlugin.h"

#include <cstdio>
#include <cstring>

namespace {

// Shared by every instance on a thread: a host must use a display text before
// it asks for the next one. One per thread, so that two threads reading their
// instances' texts at once each get their own. The 17th byte stays zero so
// that a host reading the field as a C string stops there even when the text
// fills all 16 bytes.
constexpr size_t kDisplayFieldSize = 16;
thread_local char displayBuffer[kDisplayFieldSize + 1];

}  // namespace

FFResult CFFGLPlugin::InitialiseGL(const ViewportRecord* record) { return StoreViewport(record); }

FFResult CFFGLPlugin::Resize(const ViewportRecord* record) noexcept { return StoreViewport(record); }

FFResult CFFGLPlugin::StoreViewport(const ViewportRecord* record) noexcept {
  if (!record) return FF_FAIL;
  viewport = *record;
  return FF_SUCCESS;
}

FFResult CFFGLPlugin::DeinitialiseGL() noexcept { return FF_SUCCESS; }

const char* CFFGLPlugin::GetParameterDisplay(uint32_t index) noexcept {
  if (!owner) return nullptr;
  const ParameterRecord* record = owner->FindParameter(index);
  if (!record || record->type == FF_TYPE_NONE) return nullptr;
  if (IsTextParameterType(record->type))
    return reinterpret_cast<const char*>(owner->GetTextParameter(index));

  // Large enough for "%f" of any float, sign included.
  char text[64];
  int length = std::snprintf(text, sizeof text, "%f", static_cast<double>(owner->GetFloatParameter(index)));
  if (length < 0) length = 0;
  size_t copied = static_cast<size_t>(length) < kDisplayFieldSize ? static_cast<size_t>(length) : kDisplayFieldSize;
  std::memset(displayBuffer, 0, sizeof displayBuffer);
  std::memcpy(displayBuffer, text, copied);
  return displayBuffer;
}

FFResult CFFGLPlugin::SetFloatParameter(uint32_t, float) noexcept { return FF_FAIL; }
FFResult CFFGLPlugin::SetTextParameter(uint32_t, const char*) noexcept { return FF_FAIL; }
float CFFGLPlugin::GetFloatParameter(uint32_t) noexcept { return 0.0f; }
uintptr_t CFFGLPlugin::GetTextParameter(uint32_t) noexcept { return FF_FAIL; }
FFResult CFFGLPlugin::ProcessFrame(const ProcessRecord*) noexcept { return FF_FAIL; }

FFResult CFFGLPlugin::SetTime(double seconds) noexcept {
  hostTime = seconds;
  return FF_SUCCESS;
}

void CFFGLPlugin::SetBeatInfo(float beatsPerMinute, float phase) noexcept {
  bpm = beatsPerMinute;
  barPhase = phase;
}

void CFFGLPlugin::SetHostInfo(const char* name, const char* version) {
  hostName = name ? name : "";
  hostVersion = version ? version : "";
}

void CFFGLPlugin::SetSampleRate(uint32_t rate) noexcept { sampleRate = rate; }

FFResult CFFGLPlugin::GetInputStatus(uint32_t input) noexcept {
  return input < static_cast<uint32_t>(maximumInputs) ? 1 : FF_FAIL;
}

void* CFFGLPlugin::GetPluginData() noexcept { return nullptr; }
FFResult CFFGLPlugin::Connect() noexcept { return FF_SUCCESS; }
FFResult CFFGLPlugin::Disconnect() noexcept { return FF_SUCCESS; }
