// A failed load of the GL entry points is final for the process. Runs as a
// process of its own, since the first instance creation decides it.
#include <gtest/gtest.h>

#include "GlTestContext.h"
#include "PlugMainCalls.h"
#include "TestPlugin.h"

namespace {

using testsupport::CallWith;

TEST(GlewFailure, IsFinalForTheLifeOfTheProcess) {
  // No GL context is current yet, so glewInit cannot find a GL version.
  ViewportRecord viewport{0, 0, 8, 8};
  EXPECT_EQ(CallWith(FunctionCode::InstantiateGL, &viewport), FF_FAIL);
  EXPECT_EQ(testControl.Count("initialise"), 0);
  EXPECT_EQ(testControl.Count("destruct"), 1) << "the new instance is destroyed";

  ASSERT_NE(testsupport::SharedGlContext(), nullptr);
  EXPECT_EQ(CallWith(FunctionCode::InstantiateGL, &viewport), FF_FAIL) << "no second attempt with a context";
  EXPECT_EQ(testControl.Count("initialise"), 0);
}

}  // namespace
