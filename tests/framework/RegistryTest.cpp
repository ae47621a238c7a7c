// The parameter registry and the instance base on their own, without the
// entry point.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "FFGLPlugin.h"

namespace {

TEST(ParameterRegistry, ClampsDefaultsIntoZeroToOne) {
  struct Case {
    float registered;
    float stored;
  };
  const Case cases[] = {{-0.5f, 0.0f}, {2.0f, 1.0f}, {0.35f, 0.35f}, {0.0f, 0.0f}, {1.0f, 1.0f},
                        {-std::numeric_limits<float>::infinity(), 0.0f}};
  for (const Case& c : cases) {
    CFFGLPluginManager registry;
    registry.RegisterParameter(0, "P", c.registered);
    EXPECT_EQ(registry.FindParameter(0)->defaultValue, c.stored) << "registered " << c.registered;
  }
  CFFGLPluginManager registry;
  registry.RegisterParameter(0, "P", std::numeric_limits<float>::quiet_NaN());
  EXPECT_TRUE(std::isnan(registry.FindParameter(0)->defaultValue));
}

TEST(ParameterRegistry, NewRecordHasTheStandardDescription) {
  CFFGLPluginManager registry;
  registry.RegisterParameter(7, "Name", 0.25f);
  const ParameterRecord* record = registry.FindParameter(7);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->name, "Name");
  EXPECT_EQ(record->type, FF_TYPE_STANDARD);
  ASSERT_EQ(record->elements.size(), 1u);
  EXPECT_EQ(record->elements[0].name, "");
  EXPECT_EQ(record->elements[0].value, 0.0f);
  EXPECT_TRUE(record->visible);
  EXPECT_EQ(record->minimum, 0.0f);
  EXPECT_EQ(record->maximum, 1.0f);
  EXPECT_EQ(record->usage, 0u);
  EXPECT_TRUE(record->separators.empty());
  EXPECT_TRUE(record->fileExtensions.empty());
  EXPECT_TRUE(record->displayName.empty());
  EXPECT_TRUE(record->group.empty());
  EXPECT_EQ(record->eventFlags, 0u);
}

TEST(ParameterRegistry, DuplicateIndicesKeepBothAndFindTheFirst) {
  CFFGLPluginManager registry;
  registry.RegisterParameter(0, "First", 0.1f);
  registry.RegisterParameter(0, "Second", 0.2f);
  EXPECT_EQ(registry.ParameterCount(), 2u);
  EXPECT_EQ(registry.FindParameter(0)->name, "First");
  EXPECT_EQ(registry.FindParameter(1), nullptr);
}

TEST(ParameterRegistry, CopiesTheName) {
  char name[] = "Original";
  CFFGLPluginManager registry;
  registry.RegisterParameter(0, name, 0.5f);
  std::strcpy(name, "Changed!");
  EXPECT_EQ(registry.FindParameter(0)->name, "Original");
}

class BareInstance : public CFFGLPlugin {};

TEST(InstanceBase, StartsWithTheDocumentedState) {
  BareInstance instance;
  EXPECT_FALSE(instance.connected);
  EXPECT_EQ(instance.owner, nullptr);
  EXPECT_EQ(instance.bpm, 120.0f);
  EXPECT_EQ(instance.barPhase, 0.0f);
  EXPECT_TRUE(instance.hostName.empty());
  EXPECT_TRUE(instance.hostVersion.empty());
  EXPECT_EQ(instance.hostTime, 0.0);
  EXPECT_EQ(instance.sampleRate, 0u);
  EXPECT_EQ(instance.minimumInputs, 0);
  EXPECT_EQ(instance.maximumInputs, 0);
  EXPECT_TRUE(instance.capability5);
  EXPECT_FALSE(instance.capability16);
}

TEST(InstanceBase, BaseOperationsAnswerTheirDefaults) {
  BareInstance instance;
  EXPECT_EQ(instance.SetFloatParameter(0, 0.5f), FF_FAIL);
  EXPECT_EQ(instance.SetTextParameter(0, "x"), FF_FAIL);
  EXPECT_EQ(instance.GetFloatParameter(0), 0.0f);
  EXPECT_EQ(instance.GetTextParameter(0), uintptr_t{FF_FAIL});
  EXPECT_EQ(instance.ProcessFrame(nullptr), FF_FAIL);
  EXPECT_EQ(instance.DeinitialiseGL(), FF_SUCCESS);
  EXPECT_EQ(instance.Connect(), FF_SUCCESS);
  EXPECT_EQ(instance.Disconnect(), FF_SUCCESS);
  EXPECT_EQ(instance.GetPluginData(), nullptr);
  EXPECT_EQ(instance.GetInputStatus(0), FF_FAIL);
  instance.maximumInputs = 2;
  EXPECT_EQ(instance.GetInputStatus(1), 1u);
  EXPECT_EQ(instance.GetInputStatus(2), FF_FAIL);
}

TEST(InstanceBase, ViewportIsCopiedAndReplacedWhole) {
  BareInstance instance;
  ViewportRecord first{1, 2, 3, 4};
  EXPECT_EQ(instance.Resize(&first), FF_SUCCESS);
  EXPECT_EQ(instance.viewport.x, 1u);
  EXPECT_EQ(instance.viewport.y, 2u);
  EXPECT_EQ(instance.viewport.width, 3u);
  EXPECT_EQ(instance.viewport.height, 4u);
  ViewportRecord second{10, 20, 30, 40};
  EXPECT_EQ(instance.InitialiseGL(&second), FF_SUCCESS);
  EXPECT_EQ(instance.viewport.x, 10u);
  EXPECT_EQ(instance.viewport.height, 40u);
  EXPECT_EQ(instance.Resize(nullptr), FF_FAIL);
  EXPECT_EQ(instance.InitialiseGL(nullptr), FF_FAIL);
  EXPECT_EQ(instance.viewport.width, 30u);
}

TEST(InstanceBase, HostInfoIsCopied) {
  BareInstance instance;
  char name[] = "Host";
  char version[] = "1.0";
  instance.SetHostInfo(name, version);
  std::strcpy(name, "XXXX");
  std::strcpy(version, "9.9");
  EXPECT_EQ(instance.hostName, "Host");
  EXPECT_EQ(instance.hostVersion, "1.0");
  instance.SetHostInfo(nullptr, nullptr);
  EXPECT_EQ(instance.hostName, "");
  EXPECT_EQ(instance.hostVersion, "");
}

}  // namespace
