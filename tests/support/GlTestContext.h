// The headless GL context of the GL tests: one EGL surfaceless 4.1 core
// context per test process, made on first use and current from then on.
#pragma once

#include <gtest/gtest.h>

#include "hostkit/FrameTarget.h"
#include "hostkit/GlContext.h"

namespace testsupport {

// The process's test context, or null (with the reason printed) when this
// machine cannot make one.
hostkit::GlContext* SharedGlContext();

// Base of every test that needs GL: fails the test when there is no context.
class GlTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(SharedGlContext(), nullptr) << "no headless GL context on this machine"; }
};

// The GL names currently bound that the plugin promises to leave at 0.
struct GlBindings {
  int program = -1;
  int vertexArray = -1;
  int arrayBuffer = -1;
};
GlBindings CurrentBindings();

}  // namespace testsupport
