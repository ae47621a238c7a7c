// The framework linked without any plugin: nothing has registered, so every
// path that needs the registration fails and the information codes answer null.
#include <gtest/gtest.h>

#include "PlugMainCalls.h"

namespace {

using testsupport::Call;
using testsupport::CallForPointer;
using testsupport::CallWith;
using FC = FunctionCode;

TEST(Unregistered, EveryPluginLevelCodeFails) {
  EXPECT_EQ(CallForPointer(FC::GetInfo), nullptr);
  EXPECT_EQ(CallForPointer(FC::GetExtendedInfo), nullptr);
  EXPECT_EQ(Call(FC::Initialise), FF_FAIL);
  EXPECT_EQ(Call(FC::Deinitialise), FF_FAIL);
  EXPECT_EQ(Call(FC::GetParameterCount), FF_FAIL);
  EXPECT_EQ(Call(FC::GetCapability, 5), FF_FAIL);
  EXPECT_EQ(CallForPointer(FC::GetParameterName, 0), nullptr);
  ViewportRecord viewport{0, 0, 8, 8};
  EXPECT_EQ(CallWith(FC::InstantiateGL, &viewport), FF_FAIL);
}

}  // namespace
