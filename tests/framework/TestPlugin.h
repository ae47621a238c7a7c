// A plugin class for testing the framework alone: it records every call the
// entry point makes on it and answers as the test tells it to.
#pragma once

#include <map>
#include <new>
#include <string>
#include <vector>

#include "FFGLPlugin.h"

struct TestPluginControl {
  // Answers of the instance operations.
  FFResult connectResult = FF_SUCCESS;
  FFResult disconnectResult = FF_SUCCESS;
  FFResult initialiseResult = FF_SUCCESS;
  FFResult processResult = FF_SUCCESS;
  // SetFloatParameter fails for this index (-1: never).
  int failSetParameterAt = -1;
  // The factory throws std::bad_alloc / InitialiseGL throws it.
  bool factoryThrows = false;
  bool initialiseThrows = false;
  // Plugin-level values the constructor sets.
  bool capability16 = false;
  // The constructor registers these as text parameters (type 100) after the
  // numeric ones.
  bool withTextParameter = false;

  // What happened, in order: "construct", "destruct", "connect", "disconnect",
  // "initialise", "deinitialise", "process", "set 3=0.5", ...
  std::vector<std::string> calls;
  int factoryCalls = 0;

  void Reset() { *this = TestPluginControl(); }
  int Count(const std::string& call) const;
};

extern TestPluginControl testControl;

// Numeric parameters the test plugin registers, by index.
constexpr float kTestDefaults[] = {0.25f, 0.5f, 1.0f};
constexpr uint32_t kTestParameterCount = 3;

class TestPlugin : public CFFGLPlugin {
 public:
  TestPlugin();
  ~TestPlugin() override;

  FFResult InitialiseGL(const ViewportRecord* viewport) override;
  FFResult DeinitialiseGL() noexcept override;
  FFResult SetFloatParameter(uint32_t index, float value) noexcept override;
  float GetFloatParameter(uint32_t index) noexcept override;
  FFResult SetTextParameter(uint32_t index, const char* text) noexcept override;
  uintptr_t GetTextParameter(uint32_t index) noexcept override;
  FFResult ProcessFrame(const ProcessRecord* record) noexcept override;
  FFResult Connect() noexcept override;
  FFResult Disconnect() noexcept override;

  std::map<uint32_t, float> values;
  std::string text = "initial";
};

FFResult CreateTestPlugin(CFFGLPlugin** instance);
