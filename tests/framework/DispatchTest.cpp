// The entry point with a test plugin: every code's answer, the query
// instance, instance creation and the connection protocol.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "GlTestContext.h"
#include "PlugMainCalls.h"
#include "PluginRegistration.h"
#include "TestPlugin.h"

namespace {

using testsupport::AsFloat;
using testsupport::Call;
using testsupport::CallForPointer;
using testsupport::CallRaw;
using testsupport::CallWith;
using FC = FunctionCode;

class DispatchTest : public testsupport::GlTest {
 protected:
  void SetUp() override {
    GlTest::SetUp();
    Call(FC::Deinitialise);
    testControl.Reset();
  }
  void TearDown() override {
    for (InstanceHandle handle : live) Call(FC::DeinstantiateGL, 0, handle);
    Call(FC::Deinitialise);
    testControl.Reset();
  }

  InstanceHandle Create() {
    ViewportRecord viewport{0, 0, 64, 48};
    PlugMainValue answer = CallRaw(FC::InstantiateGL, reinterpret_cast<uintptr_t>(&viewport));
    if (answer.bits == FF_FAIL) return nullptr;
    live.push_back(answer.pointerValue);
    return answer.pointerValue;
  }
  void Destroy(InstanceHandle handle) {
    EXPECT_EQ(Call(FC::DeinstantiateGL, 0, handle), FF_SUCCESS);
    live.erase(std::find(live.begin(), live.end(), handle));
  }
  static TestPlugin& Plugin(InstanceHandle handle) { return *static_cast<TestPlugin*>(static_cast<CFFGLPlugin*>(handle)); }

  std::vector<InstanceHandle> live;
};

// ---- Identity and plugin-level codes --------------------------------------

TEST_F(DispatchTest, ShortNameIsZeroFilledAndRecordsAreContiguous) {
  auto* info = static_cast<const PluginInfoRecord*>(CallForPointer(FC::GetInfo));
  ASSERT_NE(info, nullptr);
  const char expected[16] = {'S', 'h', 'o', 'r', 't'};
  EXPECT_EQ(std::memcmp(info->pluginName, expected, 16), 0);
  EXPECT_EQ(std::memcmp(info->uniqueId, "TEST", 4), 0);
  auto* extended = static_cast<const PluginExtendedInfoRecord*>(CallForPointer(FC::GetExtendedInfo));
  EXPECT_EQ(reinterpret_cast<const char*>(extended), reinterpret_cast<const char*>(info) + 32);
  EXPECT_EQ(extended->pluginMajorVersion, 3u);
  EXPECT_STREQ(extended->about, "Tests");
}

TEST_F(DispatchTest, CapabilitiesAnswerTheRegistryValues) {
  const std::pair<uint32_t, uint32_t> answers[] = {{5, 1}, {10, 0}, {11, 0}, {16, 0}, {0, 0}, {7, 0}, {12345, 0}};
  for (auto [capability, answer] : answers) EXPECT_EQ(Call(FC::GetCapability, capability), answer) << capability;
}

TEST_F(DispatchTest, QueryInstanceIsMadeOnDemandAndDroppedByDeinitialise) {
  EXPECT_EQ(Call(FC::GetParameterCount), kTestParameterCount);
  EXPECT_EQ(testControl.factoryCalls, 1);
  EXPECT_EQ(Call(FC::GetParameterCount), kTestParameterCount);
  EXPECT_EQ(testControl.factoryCalls, 1);
  EXPECT_EQ(Call(FC::Deinitialise), FF_SUCCESS);
  EXPECT_EQ(testControl.Count("destruct"), 1);
  EXPECT_EQ(Call(FC::Initialise), FF_SUCCESS);
  EXPECT_EQ(testControl.factoryCalls, 2);
  EXPECT_EQ(Call(FC::Initialise), FF_SUCCESS);
  EXPECT_EQ(testControl.factoryCalls, 2);
}

FFResult failingHook() { return 42; }
int deinitialiseHookCalls = 0;
FFResult countingHook() {
  ++deinitialiseHookCalls;
  return FF_FAIL;
}

TEST_F(DispatchTest, HooksGateTheQueryInstanceAndFollowItsDeletion) {
  RegisterPluginHooks(failingHook, countingHook);
  EXPECT_EQ(Call(FC::Initialise), 42u);
  EXPECT_EQ(Call(FC::GetParameterCount), FF_FAIL);
  EXPECT_EQ(CallForPointer(FC::GetParameterName, 0), nullptr);
  EXPECT_EQ(testControl.factoryCalls, 0);
  EXPECT_EQ(Call(FC::Deinitialise), FF_SUCCESS);
  EXPECT_EQ(deinitialiseHookCalls, 1);
  RegisterPluginHooks(nullptr, nullptr);
  EXPECT_EQ(Call(FC::Initialise), FF_SUCCESS);
}

TEST_F(DispatchTest, ThumbnailAnswersNoneAndZeroSize) {
  ThumbnailRecord thumbnail{7, 9, nullptr};
  EXPECT_EQ(CallWith(FC::GetThumbnail, &thumbnail), FF_FAIL);
  EXPECT_EQ(thumbnail.width, 0u);
  EXPECT_EQ(thumbnail.height, 0u);
  EXPECT_EQ(CallWith(FC::GetThumbnail, nullptr), FF_FAIL);
}

TEST_F(DispatchTest, UnhandledCodesFailAndTouchNothing) {
  InstanceHandle handle = Create();
  ASSERT_NE(handle, nullptr);
  testControl.calls.clear();
  const uint32_t unhandled[] = {1, 3, 11, 12, 14, 24, 25, 26, 27, 28, 29, 30, 52, 53, 100, 0xFFFFFFFF};
  for (uint32_t code : unhandled) {
    for (InstanceHandle instance : {InstanceHandle{nullptr}, handle}) {
      PlugMainValue input;
      input.bits = 0;
      EXPECT_EQ(plugMain(code, input, instance).uintValue, FF_FAIL) << "code " << code;
    }
  }
  EXPECT_TRUE(testControl.calls.empty());
}

TEST_F(DispatchTest, ExceptionsAnswerEachCodesFailure) {
  testControl.factoryThrows = true;
  EXPECT_EQ(Call(FC::GetParameterCount), FF_FAIL);
  EXPECT_EQ(Call(FC::Initialise), FF_FAIL);
  EXPECT_EQ(CallRaw(FC::GetParameterName, 0).pointerValue, nullptr);
  EXPECT_EQ(CallRaw(FC::GetPluginData).pointerValue, nullptr);
  ViewportRecord viewport{0, 0, 8, 8};
  EXPECT_EQ(CallWith(FC::InstantiateGL, &viewport), FF_FAIL);
  testControl.factoryThrows = false;

  testControl.initialiseThrows = true;
  EXPECT_EQ(Create(), nullptr);
  EXPECT_EQ(testControl.Count("deinitialise"), 1);
  EXPECT_EQ(testControl.Count("destruct"), 1);
}

// ---- Instance creation ------------------------------------------------------

TEST_F(DispatchTest, CreationAppliesEveryDefaultBeforeGL) {
  InstanceHandle handle = Create();
  ASSERT_NE(handle, nullptr);
  const std::vector<std::string> expected = {"construct",   "construct", "set 0=0.25", "set 1=0.5",
                                             "set 2=1",     "initialise"};
  EXPECT_EQ(testControl.calls, expected);
  EXPECT_EQ(Plugin(handle).owner, &Plugin(handle));
  EXPECT_FALSE(Plugin(handle).connected);
  EXPECT_EQ(Plugin(handle).viewport.width, 64u);
}

TEST_F(DispatchTest, CreationGivesTextParametersTheirDefaultText) {
  testControl.withTextParameter = true;
  InstanceHandle handle = Create();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(testControl.Count("set text 3=default text"), 1);
  EXPECT_EQ(Plugin(handle).text, "default text");
}

TEST_F(DispatchTest, FailingDefaultDestroysTheNewInstanceWithoutGL) {
  Call(FC::Initialise);
  testControl.calls.clear();
  testControl.failSetParameterAt = 1;
  EXPECT_EQ(CallRaw(FC::InstantiateGL, 0).bits, uint64_t{FF_FAIL});  // null viewport
  EXPECT_TRUE(testControl.calls.empty());
  EXPECT_EQ(Create(), nullptr);
  const std::vector<std::string> expected = {"construct", "set 0=0.25", "set 1=0.5", "destruct"};
  EXPECT_EQ(testControl.calls, expected);
}

TEST_F(DispatchTest, FailingInitialiseIsUndoneBeforeDestruction) {
  testControl.initialiseResult = FF_FAIL;
  EXPECT_EQ(Create(), nullptr);
  const std::vector<std::string> tail(testControl.calls.end() - 3, testControl.calls.end());
  const std::vector<std::string> expected = {"initialise", "deinitialise", "destruct"};
  EXPECT_EQ(tail, expected);
}

TEST_F(DispatchTest, NullViewportFailsWithoutMakingTheQueryInstance) {
  EXPECT_EQ(CallRaw(FC::InstantiateGL, 0).bits, uint64_t{FF_FAIL});
  EXPECT_EQ(testControl.factoryCalls, 0);
}

// ---- Connection protocol ----------------------------------------------------

TEST_F(DispatchTest, FirstFrameConnectsOnceAndDisconnectReconnects) {
  InstanceHandle handle = Create();
  int record = 0;
  testControl.calls.clear();
  EXPECT_EQ(CallWith(FC::ProcessFrame, &record, handle), FF_SUCCESS);
  EXPECT_EQ(CallWith(FC::ProcessFrame, &record, handle), FF_SUCCESS);
  EXPECT_EQ(testControl.calls, (std::vector<std::string>{"connect", "process", "process"}));
  EXPECT_TRUE(Plugin(handle).connected);

  EXPECT_EQ(Call(FC::Disconnect, 0, handle), FF_SUCCESS);
  EXPECT_FALSE(Plugin(handle).connected);
  EXPECT_EQ(CallWith(FC::ProcessFrame, &record, handle), FF_SUCCESS);
  EXPECT_EQ(testControl.Count("connect"), 2);
}

TEST_F(DispatchTest, FrameConnectsEvenWhenConnectFails) {
  InstanceHandle handle = Create();
  testControl.connectResult = FF_FAIL;
  testControl.processResult = 7;
  int record = 0;
  EXPECT_EQ(CallWith(FC::ProcessFrame, &record, handle), 7u);
  EXPECT_TRUE(Plugin(handle).connected);
  EXPECT_EQ(CallWith(FC::ProcessFrame, nullptr, handle), FF_FAIL);
  EXPECT_EQ(testControl.Count("process"), 1);
}

TEST_F(DispatchTest, ConnectAndDisconnectHandBackFailuresAndKeepTheFlag) {
  InstanceHandle handle = Create();
  testControl.connectResult = 5;
  EXPECT_EQ(Call(FC::Connect, 0, handle), 5u);
  EXPECT_FALSE(Plugin(handle).connected);
  testControl.connectResult = FF_SUCCESS;
  EXPECT_EQ(Call(FC::Connect, 0, handle), FF_SUCCESS);
  EXPECT_TRUE(Plugin(handle).connected);
  testControl.disconnectResult = FF_FAIL;
  EXPECT_EQ(Call(FC::Disconnect, 0, handle), FF_FAIL);
  EXPECT_TRUE(Plugin(handle).connected);
}

TEST_F(DispatchTest, DestroyDisconnectsOnlyAConnectedInstance) {
  InstanceHandle never = Create();
  testControl.calls.clear();
  Destroy(never);
  EXPECT_EQ(testControl.calls, (std::vector<std::string>{"deinitialise", "destruct"}));

  InstanceHandle connected = Create();
  Call(FC::Connect, 0, connected);
  testControl.calls.clear();
  testControl.disconnectResult = FF_FAIL;  // ignored on destruction
  Destroy(connected);
  EXPECT_EQ(testControl.calls, (std::vector<std::string>{"disconnect", "deinitialise", "destruct"}));
}

// ---- Instance codes ---------------------------------------------------------

TEST_F(DispatchTest, EveryInstanceCodeFailsWithoutAHandle) {
  ViewportRecord viewport{};
  double seconds = 1.0;
  const std::pair<FC, const void*> codes[] = {
      {FC::GetParameterDisplay, nullptr}, {FC::SetParameter, &viewport}, {FC::GetParameter, nullptr},
      {FC::GetInputStatus, nullptr},      {FC::ProcessFrame, &viewport}, {FC::DeinstantiateGL, nullptr},
      {FC::SetTime, &seconds},            {FC::Connect, nullptr},        {FC::Disconnect, nullptr},
      {FC::Resize, &viewport},            {FC::SetElementValue, &viewport}, {FC::SetBeatInfo, &viewport},
      {FC::SetHostInfo, &viewport},       {FC::SetSampleRate, nullptr},  {FC::GetParameterEvents, &viewport},
      {FC::EnableCapability, nullptr},    {FC::GetParameterDisplayName, &viewport},
  };
  for (auto [code, record] : codes)
    EXPECT_EQ(CallRaw(code, reinterpret_cast<uintptr_t>(record)).bits, uint64_t{FF_FAIL})
        << "code " << static_cast<uint32_t>(code);
}

TEST_F(DispatchTest, HostPushedValuesAreStored) {
  InstanceHandle handle = Create();
  TestPlugin& plugin = Plugin(handle);
  double seconds = 12.5;
  EXPECT_EQ(CallWith(FC::SetTime, &seconds, handle), FF_SUCCESS);
  EXPECT_EQ(plugin.hostTime, 12.5);
  BeatRecord beat{128.0f, 0.25f};
  EXPECT_EQ(CallWith(FC::SetBeatInfo, &beat, handle), FF_SUCCESS);
  EXPECT_EQ(plugin.bpm, 128.0f);
  EXPECT_EQ(plugin.barPhase, 0.25f);
  char name[] = "Host";
  char version[] = "2.0";
  HostInfoRecord host{name, version};
  EXPECT_EQ(CallWith(FC::SetHostInfo, &host, handle), FF_SUCCESS);
  name[0] = 'X';
  EXPECT_EQ(plugin.hostName, "Host");
  EXPECT_EQ(plugin.hostVersion, "2.0");
  EXPECT_EQ(Call(FC::SetSampleRate, 48000, handle), FF_SUCCESS);
  EXPECT_EQ(plugin.sampleRate, 48000u);
  ViewportRecord viewport{4, 3, 2, 1};
  EXPECT_EQ(CallWith(FC::Resize, &viewport, handle), FF_SUCCESS);
  EXPECT_EQ(plugin.viewport.x, 4u);
  EXPECT_EQ(plugin.viewport.height, 1u);
  for (FC code : {FC::SetTime, FC::SetBeatInfo, FC::SetHostInfo, FC::Resize})
    EXPECT_EQ(CallWith(code, nullptr, handle), FF_FAIL) << static_cast<uint32_t>(code);
  EXPECT_EQ(Call(FC::GetInputStatus, 0, handle), FF_FAIL);
}

TEST_F(DispatchTest, CapabilitySixteenIsEnabledOnlyWhenThePluginHasIt) {
  InstanceHandle handle = Create();
  EXPECT_EQ(Call(FC::EnableCapability, 16, handle), FF_FAIL);
  EXPECT_EQ(Plugin(handle).capability16Enabled, 0);
  Call(FC::Deinitialise);
  testControl.capability16 = true;
  EXPECT_EQ(Call(FC::EnableCapability, 5, handle), FF_FAIL);
  EXPECT_EQ(Call(FC::EnableCapability, 16, handle), FF_SUCCESS);
  EXPECT_EQ(Plugin(handle).capability16Enabled, 1);
}

// ---- Parameters -------------------------------------------------------------

TEST_F(DispatchTest, ValuesAreRoutedByTheQueryInstancesType) {
  testControl.withTextParameter = true;
  InstanceHandle handle = Create();
  ParameterValueRecord record{};
  record.index = 1;
  record.value.floatValue = 0.75f;
  EXPECT_EQ(CallWith(FC::SetParameter, &record, handle), FF_SUCCESS);
  EXPECT_EQ(AsFloat(Call(FC::GetParameter, 1, handle)), 0.75f);

  record.index = kTestParameterCount;
  record.value.textValue = "hello";
  EXPECT_EQ(CallWith(FC::SetParameter, &record, handle), FF_SUCCESS);
  PlugMainValue text = CallRaw(FC::GetParameter, kTestParameterCount, handle);
  EXPECT_STREQ(static_cast<const char*>(text.pointerValue), "hello");
  EXPECT_STREQ(static_cast<const char*>(CallForPointer(FC::GetParameterDisplay, kTestParameterCount, handle)),
               "hello");
  EXPECT_EQ(CallWith(FC::SetParameter, nullptr, handle), FF_FAIL);

  // An index the query instance does not know takes the numeric path.
  record.index = 99;
  record.value.bits = 0;
  record.value.floatValue = 0.5f;
  EXPECT_EQ(CallWith(FC::SetParameter, &record, handle), FF_FAIL);
  EXPECT_EQ(testControl.Count("set 99=0.5"), 1);
}

TEST_F(DispatchTest, DisplayTextFormatsLikePercentFInASharedField) {
  InstanceHandle handle = Create();
  TestPlugin& plugin = Plugin(handle);
  struct Case {
    float value;
    const char* shown;  // all 16 bytes of the field when the text fills it
  };
  const Case cases[] = {{0.5f, "0.500000"},
                        {1.0f, "1.000000"},
                        {0.1f, "0.100000"},
                        {-0.25f, "-0.250000"},
                        {100000000.0f, "100000000.000000"},
                        {1000000000.0f, "1000000000.00000"}};
  const char* previous = nullptr;
  for (const Case& c : cases) {
    plugin.values[0] = c.value;
    const char* field = static_cast<const char*>(CallForPointer(FC::GetParameterDisplay, 0, handle));
    ASSERT_NE(field, nullptr);
    const size_t length = std::strlen(c.shown);
    EXPECT_EQ(std::string(field, length), c.shown);
    for (size_t i = length; i < 16; ++i) EXPECT_EQ(field[i], '\0') << c.shown;
    EXPECT_EQ(field[16], '\0') << "the byte after the field stays zero";
    if (previous) {
      EXPECT_EQ(field, previous) << "one shared buffer";
    }
    previous = field;
  }
  EXPECT_EQ(CallForPointer(FC::GetParameterDisplay, 99, handle), nullptr);
  EXPECT_EQ(CallRaw(FC::GetParameterDisplay, 0).bits, uint64_t{FF_FAIL});
}

TEST_F(DispatchTest, DescriptionsComeFromTheQueryInstance) {
  EXPECT_STREQ(static_cast<const char*>(CallForPointer(FC::GetParameterName, 2)), "Parameter 2");
  EXPECT_EQ(CallForPointer(FC::GetParameterName, 3), nullptr);
  EXPECT_EQ(AsFloat(Call(FC::GetParameterDefault, 0)), 0.25f);
  EXPECT_EQ(Call(FC::GetParameterDefault, 3), FF_FAIL);
  EXPECT_EQ(Call(FC::GetParameterType, 1), FF_TYPE_STANDARD);
  EXPECT_EQ(Call(FC::GetParameterType, 3), FF_FAIL);
  EXPECT_EQ(Call(FC::GetParameterUsage, 1), 0u);
  EXPECT_EQ(Call(FC::GetParameterUsage, 3), FF_FAIL);
  RangeRecord range{3, 7.0f, 7.0f};
  EXPECT_EQ(CallWith(FC::GetParameterRange, &range), FF_SUCCESS);
  EXPECT_EQ(range.minimum, 0.0f);
  EXPECT_EQ(range.maximum, 1.0f);
  EXPECT_EQ(CallWith(FC::GetParameterRange, nullptr), FF_FAIL);
  EXPECT_EQ(Call(FC::GetExtensionCount, 0), 0u);
  EXPECT_EQ(Call(FC::GetExtensionCount, 3), 0u);
  ElementAddressRecord address{0, 0};
  EXPECT_EQ(CallRaw(FC::GetExtension, reinterpret_cast<uintptr_t>(&address)).pointerValue, nullptr);
  EXPECT_EQ(Call(FC::GetSeparatorCount, 0), 0u);
  EXPECT_EQ(Call(FC::GetSeparatorCount, 3), 0u);
  EXPECT_EQ(CallWith(FC::GetSeparator, &address), FF_FAIL);
  EXPECT_EQ(Call(FC::GetParameterVisibility, 0), 1u);
  EXPECT_EQ(Call(FC::GetParameterVisibility, 3), FF_FAIL);
  EXPECT_EQ(CallRaw(FC::GetPluginData).pointerValue, nullptr);
}

TEST_F(DispatchTest, ElementsAreReadFromTheGivenInstanceElseThePlugin) {
  InstanceHandle handle = Create();
  EXPECT_EQ(Call(FC::GetElementCount, 0), 1u);
  EXPECT_EQ(Call(FC::GetElementCount, 0, handle), 1u);
  EXPECT_EQ(Call(FC::GetElementCount, 3), FF_FAIL);

  ElementAddressRecord first{0, 0};
  ElementAddressRecord pastEnd{0, 1};
  EXPECT_STREQ(static_cast<const char*>(CallRaw(FC::GetElementName, reinterpret_cast<uintptr_t>(&first)).pointerValue),
               "");
  EXPECT_EQ(CallRaw(FC::GetElementName, reinterpret_cast<uintptr_t>(&pastEnd)).pointerValue, nullptr);
  EXPECT_EQ(CallWith(FC::GetElementValue, &pastEnd), FF_FAIL);

  ElementValueRecord set{0, 0, 0.8f};
  EXPECT_EQ(CallWith(FC::SetElementValue, &set), FF_FAIL);
  EXPECT_EQ(CallWith(FC::SetElementValue, &set, handle), FF_SUCCESS);
  EXPECT_EQ(AsFloat(CallWith(FC::GetElementValue, &first, handle)), 0.8f);
  EXPECT_EQ(AsFloat(CallWith(FC::GetElementValue, &first)), 0.0f) << "the plugin's own registry is untouched";
  ElementValueRecord outside{0, 1, 0.8f};
  EXPECT_EQ(CallWith(FC::SetElementValue, &outside, handle), FF_FAIL);
}

TEST_F(DispatchTest, EventsAreCountedReportedAndClearedUpToCapacity) {
  InstanceHandle handle = Create();
  TestPlugin& plugin = Plugin(handle);
  plugin.parameters[0].eventFlags = 0x1;
  plugin.parameters[2].eventFlags = 0x30;

  EventBatchRecord count{99, 0, nullptr};
  EXPECT_EQ(CallWith(FC::GetParameterEvents, &count, handle), FF_SUCCESS);
  EXPECT_EQ(count.entryCount, 2u);

  ParameterEventEntry entries[2] = {};
  EventBatchRecord none{0, 0, entries};
  EXPECT_EQ(CallWith(FC::GetParameterEvents, &none, handle), FF_SUCCESS);
  EXPECT_EQ(none.entryCount, 0u);
  EXPECT_EQ(plugin.parameters[0].eventFlags, 0x1u);

  EventBatchRecord one{1, 0, entries};
  EXPECT_EQ(CallWith(FC::GetParameterEvents, &one, handle), FF_SUCCESS);
  EXPECT_EQ(one.entryCount, 1u);
  EXPECT_EQ(entries[0].index, 0u);
  EXPECT_EQ(entries[0].eventFlags, 0x1u);
  EXPECT_EQ(plugin.parameters[0].eventFlags, 0u);
  EXPECT_EQ(plugin.parameters[2].eventFlags, 0x30u) << "what did not fit stays pending";

  EventBatchRecord rest{2, 0, entries};
  EXPECT_EQ(CallWith(FC::GetParameterEvents, &rest, handle), FF_SUCCESS);
  EXPECT_EQ(rest.entryCount, 1u);
  EXPECT_EQ(entries[0].index, 2u);
  EXPECT_EQ(entries[0].eventFlags, 0x30u);
}

TEST_F(DispatchTest, TextsAreCopiedOutWithoutTerminator) {
  InstanceHandle handle = Create();
  Plugin(handle).parameters[1].displayName = "Display Me";
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  TextRequestRecord request{1, 0, buffer, 3, 0};
  EXPECT_EQ(CallWith(FC::GetParameterDisplayName, &request, handle), FF_SUCCESS);
  EXPECT_EQ(std::string(buffer, 8), "Dis#####");
  EXPECT_EQ(CallWith(FC::GetParameterDisplayName, &request), FF_FAIL);

  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(CallWith(FC::GetParameterGroup, &request), FF_SUCCESS);
  EXPECT_EQ(std::string(buffer, 8), "########") << "an empty group writes nothing";
  request.bufferSize = 0;
  EXPECT_EQ(CallWith(FC::GetParameterGroup, &request), FF_FAIL);
  EXPECT_EQ(CallWith(FC::GetParameterGroup, nullptr), FF_FAIL);
}

}  // namespace
