#include "TestPlugin.h"

#include <algorithm>
#include <cstdio>

#include "PluginRegistration.h"

TestPluginControl testControl;

int TestPluginControl::Count(const std::string& call) const {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

namespace {
const bool registered = [] {
  PluginIdentity identity{};
  identity.uniqueId = "TEST";
  identity.name = "Short";
  identity.apiMajorVersion = 2;
  identity.apiMinorVersion = 1;
  identity.pluginMajorVersion = 3;
  identity.pluginMinorVersion = 4;
  identity.pluginType = FF_PLUGIN_TYPE_SOURCE;
  identity.description = "A plugin for testing the framework";
  identity.about = "Tests";
  RegisterPlugin(CreateTestPlugin, identity);
  return true;
}();
}  // namespace

FFResult CreateTestPlugin(CFFGLPlugin** instance) {
  ++testControl.factoryCalls;
  if (testControl.factoryThrows) throw std::bad_alloc();
  *instance = new TestPlugin();
  return FF_SUCCESS;
}

TestPlugin::TestPlugin() {
  testControl.calls.push_back("construct");
  for (uint32_t index = 0; index < kTestParameterCount; ++index) {
    RegisterParameter(index, ("Parameter " + std::to_string(index)).c_str(), kTestDefaults[index]);
    values[index] = kTestDefaults[index];
  }
  if (testControl.withTextParameter) {
    RegisterParameter(kTestParameterCount, "Label", 0.0f);
    parameters.back().type = FF_TYPE_TEXT;
    parameters.back().defaultText = "default text";
  }
  capability16 = testControl.capability16;
}

TestPlugin::~TestPlugin() { testControl.calls.push_back("destruct"); }

FFResult TestPlugin::InitialiseGL(const ViewportRecord* record) {
  testControl.calls.push_back("initialise");
  if (testControl.initialiseThrows) throw std::bad_alloc();
  CFFGLPlugin::InitialiseGL(record);
  return testControl.initialiseResult;
}

FFResult TestPlugin::DeinitialiseGL() noexcept {
  testControl.calls.push_back("deinitialise");
  return FF_SUCCESS;
}

FFResult TestPlugin::SetFloatParameter(uint32_t index, float value) noexcept {
  char call[64];
  std::snprintf(call, sizeof call, "set %u=%g", index, static_cast<double>(value));
  testControl.calls.push_back(call);
  if (static_cast<int>(index) == testControl.failSetParameterAt || index >= kTestParameterCount) return FF_FAIL;
  values[index] = value;
  return FF_SUCCESS;
}

float TestPlugin::GetFloatParameter(uint32_t index) noexcept {
  auto found = values.find(index);
  return found == values.end() ? 0.0f : found->second;
}

FFResult TestPlugin::SetTextParameter(uint32_t index, const char* value) noexcept {
  testControl.calls.push_back("set text " + std::to_string(index) + "=" + (value ? value : "(null)"));
  text = value ? value : "";
  return FF_SUCCESS;
}

uintptr_t TestPlugin::GetTextParameter(uint32_t) noexcept { return reinterpret_cast<uintptr_t>(text.c_str()); }

FFResult TestPlugin::ProcessFrame(const ProcessRecord*) noexcept {
  testControl.calls.push_back("process");
  return testControl.processResult;
}

FFResult TestPlugin::Connect() noexcept {
  testControl.calls.push_back("connect");
  return testControl.connectResult;
}

FFResult TestPlugin::Disconnect() noexcept {
  testControl.calls.push_back("disconnect");
  return testControl.disconnectResult;
}
