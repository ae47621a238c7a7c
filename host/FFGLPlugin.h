// CFFGLPlugin: the base of every plugin instance.
//
// The entry point reaches an instance only through the virtual operations
// below, in this slot order. Every operation has a base behaviour, so a plugin
// class overrides only what it needs. Unless a comment says otherwise:
//   - the host's render thread calls, one call at a time;
//   - the operations marked GL run with the instance's GL context current;
//   - results are FF_SUCCESS or FF_FAIL; host misuse is answered, not thrown.
// InitialiseGL and SetHostInfo may throw std::bad_alloc; the entry point turns
// that into a failure answer so nothing crosses plugMain.
#pragma once

#include <cstdint>
#include <string>

#include "FFGLPluginManager.h"
#include "FFGLTypes.h"

class CFFGLPlugin : public CFFGLPluginManager {
 public:
  CFFGLPlugin() = default;
  ~CFFGLPlugin() override = default;

  // GL. Called once after creation and default application. Base: copies the
  // viewport (fails for null).
  virtual FFResult InitialiseGL(const ViewportRecord* viewport);
  // GL. Releases every GL object; called before destruction and after a failed
  // InitialiseGL, so it must be safe to call twice. Base: does nothing.
  virtual FFResult DeinitialiseGL() noexcept;

  // The short text the host shows for a parameter's current value: "%f" of the
  // float, or the text of a string-valued parameter; null for an unknown index.
  // Numeric texts live in one 16-byte buffer per thread (with a 17th byte
  // that is always zero) that the thread's next request overwrites.
  virtual const char* GetParameterDisplay(uint32_t index) noexcept;

  // Base: no parameters to set or read; the setters fail, the float getter
  // answers 0.0 and the text getter FF_FAIL.
  virtual FFResult SetFloatParameter(uint32_t index, float value) noexcept;
  virtual FFResult SetTextParameter(uint32_t index, const char* text) noexcept;
  virtual float GetFloatParameter(uint32_t index) noexcept;
  virtual uintptr_t GetTextParameter(uint32_t index) noexcept;

  // GL. Draws one frame into the frame buffer and viewport the host has bound.
  // Base: fails.
  virtual FFResult ProcessFrame(const ProcessRecord* record) noexcept;

  // Values the host pushes; the base stores them for derived classes.
  virtual FFResult SetTime(double seconds) noexcept;
  virtual void SetBeatInfo(float beatsPerMinute, float phase) noexcept;
  virtual void SetHostInfo(const char* name, const char* version);
  virtual void SetSampleRate(uint32_t rate) noexcept;

  // 1 for an input number below maximumInputs, FF_FAIL otherwise.
  virtual FFResult GetInputStatus(uint32_t input) noexcept;
  // Plugin-wide data block; asked of the query instance. Base: null.
  virtual void* GetPluginData() noexcept;

  // The connection brackets the frames: the entry point connects before the
  // first frame and disconnects before DeinitialiseGL. Base: succeed.
  virtual FFResult Connect() noexcept;
  virtual FFResult Disconnect() noexcept;

  // GL. The host's viewport changed. Base: copies it (fails for null).
  virtual FFResult Resize(const ViewportRecord* viewport) noexcept;

  // Set and cleared by the entry point around Connect and Disconnect.
  bool connected = false;
  // The object whose registry and getters GetParameterDisplay reads; the
  // entry point sets it to the instance itself for every host instance.
  CFFGLPlugin* owner = nullptr;

  ViewportRecord viewport{};
  float bpm = 120.0f;
  float barPhase = 0.0f;
  std::string hostName;
  std::string hostVersion;
  double hostTime = 0.0;
  uint32_t sampleRate = 0;

 private:
  FFResult StoreViewport(const ViewportRecord* record) noexcept;
};

// A plugin's factory: stores a new instance through the out-pointer and
// answers FF_SUCCESS, or FF_FAIL. The caller owns the instance.
using PluginFactory = FFResult (*)(CFFGLPlugin** instance);
