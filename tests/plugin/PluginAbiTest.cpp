// The built plugin as a host sees it: loaded with dlopen, reached only through
// plugMain, with records laid out byte by byte from the interface tables
// (deliberately not with the plugin's own header, so a layout mistake there
// cannot hide).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "GlTestContext.h"

namespace {

using PlugMain = uint64_t (*)(uint32_t, uint64_t, void*);

constexpr uint32_t kFail = 0xFFFFFFFF;
constexpr uint64_t kFail64 = 0x00000000FFFFFFFFull;

uint32_t Low(uint64_t answer) { return static_cast<uint32_t>(answer); }
uint64_t Ptr(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }
uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return bits;
}
float Float(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}
template <class T>
T ReadAt(const void* base, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const char*>(base) + offset, sizeof value);
  return value;
}

class PluginAbiTest : public testsupport::GlTest {
 protected:
  static void SetUpTestSuite() {
    library = dlopen(TESSARVANDER_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    plugMain = reinterpret_cast<PlugMain>(dlsym(library, "plugMain"));
  }
  static void TearDownTestSuite() {
    if (plugMain) plugMain(2, 0, nullptr);
    if (library) dlclose(library);
    library = nullptr;
    plugMain = nullptr;
  }
  void SetUp() override {
    GlTest::SetUp();
    ASSERT_NE(plugMain, nullptr);
  }
  void TearDown() override {
    for (void* instance : live) plugMain(19, 0, instance);
    live.clear();
  }

  static uint64_t Call(uint32_t code, uint64_t input = 0, void* instance = nullptr) {
    return plugMain(code, input, instance);
  }

  void* Instantiate(uint32_t width = 64, uint32_t height = 48) {
    const uint32_t viewport[4] = {0, 0, width, height};
    uint64_t answer = Call(18, Ptr(viewport));
    if (answer == kFail64 || answer == 0) return nullptr;
    live.push_back(reinterpret_cast<void*>(answer));
    return live.back();
  }

  static uint32_t SetValue(void* instance, uint32_t index, float value) {
    alignas(8) unsigned char record[16] = {};
    std::memcpy(record, &index, 4);
    std::memcpy(record + 8, &value, 4);
    return Low(Call(8, Ptr(record), instance));
  }

  static std::string Display(void* instance, uint32_t index) {
    const char* field = reinterpret_cast<const char*>(Call(7, index, instance));
    return field ? std::string(field, strnlen(field, 16)) : "(null)";
  }

  static void* library;
  static PlugMain plugMain;
  std::vector<void*> live;
};

void* PluginAbiTest::library = nullptr;
PlugMain PluginAbiTest::plugMain = nullptr;

struct ParameterRow {
  const char* name;
  uint32_t defaultBits;
};
// By index, with the defaults' single-precision bit patterns.
const ParameterRow kParameters[] = {
    {"Speed", 0x3E99999A},        {"Direction", 0x3F800000},  {"Zoom", 0x3F000000},
    {"Fractal Type", 0x3F000000}, {"Mirror", 0x00000000},     {"Complexity", 0x3F000000},
    {"Branches", 0x3F000000},     {"Thickness", 0x3E99999A},  {"Glow", 0x3F000000},
    {"Color Mode", 0x3DCCCCCD},   {"Hue", 0x3F19999A},        {"Saturation", 0x3F4CCCCD},
    {"Brightness", 0x3F000000},   {"Rotation", 0x00000000},   {"Center X", 0x3F000000},
    {"Center Y", 0x3F000000},     {"Pulse Amount", 0x00000000}, {"Pulse Speed", 0x3F000000},
    {"Depth Layers", 0x3F000000},
};
constexpr uint32_t kCount = 19;

TEST_F(PluginAbiTest, InformationRecordIsByteExact) {
  const unsigned char* info = reinterpret_cast<const unsigned char*>(Call(0));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(ReadAt<uint32_t>(info, 0), 2u);
  EXPECT_EQ(ReadAt<uint32_t>(info, 4), 1u);
  EXPECT_EQ(std::memcmp(info + 8, "QLMB", 4), 0);
  EXPECT_EQ(std::memcmp(info + 12, "ORVO Tessarvande", 16), 0);
  EXPECT_EQ(ReadAt<uint32_t>(info, 28), 1u);
}

TEST_F(PluginAbiTest, ExtendedRecordFollowsAt32AndPointsAtTheTexts) {
  const unsigned char* info = reinterpret_cast<const unsigned char*>(Call(0));
  const unsigned char* extended = reinterpret_cast<const unsigned char*>(Call(13));
  ASSERT_EQ(extended, info + 32);
  EXPECT_EQ(ReadAt<uint32_t>(extended, 0), 1u);
  EXPECT_EQ(ReadAt<uint32_t>(extended, 4), 2u);
  const char* description = ReadAt<const char*>(extended, 8);
  const char* about = ReadAt<const char*>(extended, 16);
  EXPECT_STREQ(description, "Infinite Fractal Space Travel - Ferrofluid, Julia, Kaleidoscope, Mandelbrot");
  EXPECT_EQ(std::strlen(description), 75u);
  EXPECT_STREQ(about, "By ORVO");
  EXPECT_EQ(ReadAt<uint32_t>(extended, 24), 0u);
  EXPECT_EQ(ReadAt<uint32_t>(extended, 28), 0u);
  EXPECT_EQ(ReadAt<void*>(extended, 32), nullptr);
}

TEST_F(PluginAbiTest, QueryInstanceLifecycle) {
  EXPECT_EQ(Low(Call(2)), 0u);
  EXPECT_EQ(Low(Call(4)), kCount) << "code 4 before code 34 makes the query instance";
  EXPECT_EQ(Low(Call(2)), 0u);
  EXPECT_EQ(Low(Call(4)), kCount);
  EXPECT_EQ(Low(Call(34)), 0u);
  EXPECT_EQ(Low(Call(34)), 0u);
}

TEST_F(PluginAbiTest, CapabilitiesOfASource) {
  const std::pair<uint32_t, uint32_t> answers[] = {{5, 1}, {10, 0}, {11, 0}, {16, 0}, {1, 0}, {99, 0}};
  for (auto [capability, answer] : answers) EXPECT_EQ(Low(Call(10, capability)), answer) << capability;
}

TEST_F(PluginAbiTest, NineteenParametersWithNamesTypesDefaultsAndRanges) {
  ASSERT_EQ(Low(Call(4)), kCount);
  for (uint32_t index = 0; index < kCount; ++index) {
    SCOPED_TRACE(kParameters[index].name);
    EXPECT_STREQ(reinterpret_cast<const char*>(Call(5, index)), kParameters[index].name);
    EXPECT_EQ(Low(Call(6, index)), kParameters[index].defaultBits);
    EXPECT_EQ(Low(Call(15, index)), 10u);
    EXPECT_EQ(Low(Call(31, index)), 1u);
    EXPECT_EQ(Low(Call(32, index)), 0u);
    EXPECT_EQ(Low(Call(43, index)), 0u);
    EXPECT_EQ(Low(Call(45, index)), 1u);
    EXPECT_EQ(Low(Call(47, index)), 0u);
    alignas(4) unsigned char range[12] = {};
    std::memcpy(range, &index, 4);
    EXPECT_EQ(Low(Call(41, Ptr(range))), 0u);
    EXPECT_EQ(ReadAt<float>(range, 4), 0.0f);
    EXPECT_EQ(ReadAt<float>(range, 8), 1.0f);
    const uint32_t element[2] = {index, 0};
    EXPECT_STREQ(reinterpret_cast<const char*>(Call(35, Ptr(element))), "");
    EXPECT_EQ(Low(Call(36, Ptr(element))), 0u);
  }
}

TEST_F(PluginAbiTest, UnknownIndicesAnswerAsTabled) {
  for (uint32_t index : {kCount, 100u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(Call(5, index), 0u);
    EXPECT_EQ(Low(Call(6, index)), kFail);
    EXPECT_EQ(Low(Call(15, index)), kFail);
    EXPECT_EQ(Low(Call(31, index)), kFail);
    EXPECT_EQ(Low(Call(43, index)), 0u);
    EXPECT_EQ(Low(Call(45, index)), kFail);
    alignas(4) unsigned char range[12] = {};
    std::memcpy(range, &index, 4);
    const float sentinel = 7.0f;
    std::memcpy(range + 4, &sentinel, 4);
    EXPECT_EQ(Low(Call(41, Ptr(range))), 0u);
    EXPECT_EQ(ReadAt<float>(range, 4), 0.0f);
    EXPECT_EQ(ReadAt<float>(range, 8), 1.0f);
  }
}

TEST_F(PluginAbiTest, NullRecordsFail) {
  void* instance = Instantiate();
  ASSERT_NE(instance, nullptr);
  for (uint32_t code : {8u, 17u, 20u, 23u, 37u, 38u, 39u, 41u, 42u, 46u, 48u, 50u, 51u})
    EXPECT_EQ(Low(Call(code, 0, instance)), kFail) << "code " << code;
  for (uint32_t code : {35u, 44u}) EXPECT_EQ(Call(code, 0, instance), 0u) << "code " << code;
  EXPECT_EQ(Call(18, 0), kFail64);
}

TEST_F(PluginAbiTest, UnhandledCodesFail) {
  void* instance = Instantiate();
  for (uint32_t code : {1u, 3u, 11u, 12u, 14u, 24u, 25u, 26u, 27u, 28u, 29u, 30u, 52u, 60u, 0xFFFFFFFFu}) {
    EXPECT_EQ(Low(Call(code)), kFail) << code;
    EXPECT_EQ(Low(Call(code, 0, instance)), kFail) << code;
  }
}

TEST_F(PluginAbiTest, InstanceStartsWithEveryDefault) {
  void* instance = Instantiate();
  ASSERT_NE(instance, nullptr);
  for (uint32_t index = 0; index < kCount; ++index)
    EXPECT_EQ(Low(Call(9, index, instance)), kParameters[index].defaultBits) << kParameters[index].name;
  EXPECT_EQ(Display(instance, 0), "0.300000");
  EXPECT_EQ(Display(instance, 1), "1.000000");
  EXPECT_EQ(Display(instance, 9), "0.100000");
  EXPECT_EQ(Low(Call(16, 0, instance)), kFail) << "a source has no inputs";
}

TEST_F(PluginAbiTest, ValuesAreStoredAsWrittenAndReadAsBitPatterns) {
  void* instance = Instantiate();
  ASSERT_NE(instance, nullptr);
  struct Case {
    uint32_t index;
    float value;
    const char* display;
  };
  const Case cases[] = {{3, 0.5f, "0.500000"},       {3, 0.9f, "0.900000"}, {0, 1.5f, "1.500000"},
                        {12, -2.0f, "-2.000000"},     {6, 0.0f, "0.000000"},
                        {18, 100000000.0f, "100000000.000000"}, {18, 1000000000.0f, "1000000000.00000"}};
  for (const Case& c : cases) {
    EXPECT_EQ(SetValue(instance, c.index, c.value), 0u);
    EXPECT_EQ(Low(Call(9, c.index, instance)), Bits(c.value));
    EXPECT_EQ(Display(instance, c.index), c.display);
  }
  EXPECT_EQ(Low(Call(9, 3, instance)), Bits(0.9f));
  SetValue(instance, 5, 0.5f);
  EXPECT_EQ(Low(Call(9, 5, instance)), 0x3F000000u);
}

TEST_F(PluginAbiTest, NonFiniteValuesAreRefusedAndTheOldValueKept) {
  void* instance = Instantiate();
  ASSERT_NE(instance, nullptr);
  SetValue(instance, 0, 0.25f);
  for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity()}) {
    EXPECT_EQ(SetValue(instance, 0, bad), kFail);
    EXPECT_EQ(Float(Low(Call(9, 0, instance))), 0.25f);
  }
}

TEST_F(PluginAbiTest, IndicesPastTheLastAreRefused) {
  void* instance = Instantiate();
  ASSERT_NE(instance, nullptr);
  for (uint32_t index : {19u, 20u, 0xFFFFFFFFu}) {
    EXPECT_EQ(SetValue(instance, index, 0.5f), kFail);
    EXPECT_EQ(Low(Call(9, index, instance)), 0u) << "0.0 for an unknown index";
    EXPECT_EQ(Call(7, index, instance), 0u) << "no display text";
  }
  EXPECT_EQ(Call(7, 0), kFail64) << "display without an instance";
  EXPECT_EQ(Low(Call(9, 0)), kFail);
}

TEST_F(PluginAbiTest, InstancesAreIndependent) {
  void* first = Instantiate();
  void* second = Instantiate();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  SetValue(first, 10, 0.125f);
  EXPECT_EQ(Float(Low(Call(9, 10, first))), 0.125f);
  EXPECT_EQ(Low(Call(9, 10, second)), 0x3F19999Au);
}

TEST_F(PluginAbiTest, ThumbnailIsNone) {
  alignas(8) unsigned char record[16];
  std::memset(record, 0xAB, sizeof record);
  std::memset(record + 8, 0, 8);
  EXPECT_EQ(Low(Call(42, Ptr(record))), kFail);
  EXPECT_EQ(ReadAt<uint32_t>(record, 0), 0u);
  EXPECT_EQ(ReadAt<uint32_t>(record, 4), 0u);
}

TEST_F(PluginAbiTest, HostPushesAnswerSuccess) {
  void* instance = Instantiate();
  ASSERT_NE(instance, nullptr);
  const double seconds = 3.5;
  EXPECT_EQ(Low(Call(20, Ptr(&seconds), instance)), 0u);
  const float beat[2] = {128.0f, 0.5f};
  EXPECT_EQ(Low(Call(38, Ptr(beat), instance)), 0u);
  const char* host[2] = {"Test Host", "1.0"};
  EXPECT_EQ(Low(Call(39, Ptr(host), instance)), 0u);
  EXPECT_EQ(Low(Call(40, 44100, instance)), 0u);
  const uint32_t viewport[4] = {0, 0, 32, 32};
  EXPECT_EQ(Low(Call(23, Ptr(viewport), instance)), 0u);
  EXPECT_EQ(Low(Call(21, 0, instance)), 0u);
  EXPECT_EQ(Low(Call(22, 0, instance)), 0u);
  EXPECT_EQ(Low(Call(49, 16, instance)), kFail) << "capability 16 is not offered";
}

// The host's log function is accepted and never called, not even for the
// failures a logging plugin would report: an unknown code, a frame without
// an instance, a parameter value without its record.
TEST_F(PluginAbiTest, LogCallbackIsAcceptedAndNeverCalled) {
  using SetLogCallback = void (*)(void (*)(const char*));
  auto setLogCallback = reinterpret_cast<SetLogCallback>(dlsym(library, "SetLogCallback"));
  ASSERT_NE(setLogCallback, nullptr);
  static int logged = 0;
  setLogCallback([](const char*) { ++logged; });
  void* instance = Instantiate();
  EXPECT_NE(instance, nullptr);
  EXPECT_EQ(Low(Call(9999)), 0xFFFFFFFFu);
  EXPECT_EQ(Low(Call(17)), 0xFFFFFFFFu);
  EXPECT_EQ(Low(Call(8, 0, instance)), 0xFFFFFFFFu);
  setLogCallback(nullptr);
  EXPECT_EQ(logged, 0);
}

}  // namespace
