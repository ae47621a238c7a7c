// Loading the GL entry points: a host's creation without a current context
// fails for that call only, and a real glewInit failure is final for the
// process. Runs as a process of its own, since the first load decides it.
#include <GL/glew.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "GlTestContext.h"
#include "PlugMainCalls.h"
#include "TestPlugin.h"

namespace {

int glewInitCalls = 0;
bool glewInitFails = false;

}  // namespace

// Takes the place of GLEW's own for this executable (the test context's load
// included): counts the calls, and fails on demand as a GLEW that cannot load
// the entry points would.
extern "C" GLenum GLEWAPIENTRY glewInit() {
  ++glewInitCalls;
  if (glewInitFails) return GLEW_ERROR_NO_GL_VERSION;
  using GlewInit = GLenum (*)();
  static const auto real = reinterpret_cast<GlewInit>(dlsym(RTLD_NEXT, "glewInit"));
  return real();
}

namespace {

using testsupport::CallWith;

TEST(GlewFailure, NoContextFailsOnlyThatCallAndARealFailureIsFinal) {
  ViewportRecord viewport{0, 0, 8, 8};
  // No GL context is current yet: the call fails without trying GLEW.
  EXPECT_EQ(CallWith(FunctionCode::InstantiateGL, &viewport), FF_FAIL);
  EXPECT_EQ(glewInitCalls, 0);
  EXPECT_EQ(testControl.Count("initialise"), 0);
  EXPECT_EQ(testControl.Count("destruct"), 1) << "the new instance is destroyed";

  ASSERT_NE(testsupport::SharedGlContext(), nullptr);
  const int hostCalls = glewInitCalls;
  glewInitFails = true;
  EXPECT_EQ(CallWith(FunctionCode::InstantiateGL, &viewport), FF_FAIL);
  EXPECT_EQ(glewInitCalls, hostCalls + 1) << "the first creation with a context tries";
  glewInitFails = false;
  EXPECT_EQ(CallWith(FunctionCode::InstantiateGL, &viewport), FF_FAIL) << "a real failure is final";
  EXPECT_EQ(glewInitCalls, hostCalls + 1) << "no second attempt";
  EXPECT_EQ(testControl.Count("initialise"), 0);
}

}  // namespace
