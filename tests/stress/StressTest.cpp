// The plugin under the treatment a strict validator gives it: many instances,
// long lives, parameter storms, odd viewports and calls in unusual orders,
// all through plugMain in a real GL context.
#include <GL/glew.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "hostkit/FrameTarget.h"
#include "GlTestContext.h"
#include "PlugMainCalls.h"
#include "ParameterTable.h"
#include "RenderHarness.h"
#include "Tessarvander.h"

namespace {

using testsupport::AsFloat;
using testsupport::Call;
using testsupport::CallRaw;
using testsupport::CallWith;
using FC = FunctionCode;

constexpr uint32_t kParameterCount = tessarvander::kParameterCount;

// The bytes this process has allocated and not freed: what a leak of the
// plugin's or the driver's objects keeps. Not the resident pages: those also
// count what the driver's shader compiler maps and the allocator holds, which
// on a fresh, busy machine grew by tens of KiB a cycle with no object kept.
size_t HeapBytesInUse() {
  const struct mallinfo2 heap = mallinfo2();
  return heap.uordblks + heap.hblkhd;
}

class StressTest : public testsupport::GlTest {
 protected:
  void TearDown() override {
    for (InstanceHandle handle : live) Call(FC::DeinstantiateGL, 0, handle);
    live.clear();
    Call(FC::Deinitialise);
  }

  InstanceHandle Create(uint32_t width = 64, uint32_t height = 48) {
    ViewportRecord viewport{0, 0, width, height};
    PlugMainValue answer = CallRaw(FC::InstantiateGL, reinterpret_cast<uintptr_t>(&viewport));
    if (answer.bits == FF_FAIL || !answer.pointerValue) return nullptr;
    live.push_back(answer.pointerValue);
    return answer.pointerValue;
  }
  void Destroy(InstanceHandle handle) {
    ASSERT_EQ(Call(FC::DeinstantiateGL, 0, handle), FF_SUCCESS);
    live.erase(std::find(live.begin(), live.end(), handle));
  }
  static uint32_t Set(InstanceHandle handle, uint32_t index, float value) {
    ParameterValueRecord record{};
    record.index = index;
    record.value.floatValue = value;
    return CallWith(FC::SetParameter, &record, handle);
  }
  static float Get(InstanceHandle handle, uint32_t index) { return AsFloat(Call(FC::GetParameter, index, handle)); }
  static uint32_t Frame(InstanceHandle handle) {
    static const char record[32] = {};
    return CallWith(FC::ProcessFrame, record, handle);
  }
  static Tessarvander& Plugin(InstanceHandle handle) {
    return *static_cast<Tessarvander*>(static_cast<CFFGLPlugin*>(handle));
  }

  std::vector<InstanceHandle> live;
};

// ---- Lifetimes ----------------------------------------------------------------

// The heap's trend over the second half of the cycles (caches settle in the
// first): the median of the slopes between every two of its samples, which
// one odd sample does not move. A leak of the instance's programs or targets
// would be tens of KiB a cycle.
TEST_F(StressTest, FiveHundredCreateDestroyCyclesLeakNothing) {
  constexpr int kWarmUp = 250;
  constexpr int kCycles = 500;
  constexpr int kSampleEvery = 10;
  constexpr double kAllowedBytesPerCycle = 8192.0;
  std::vector<std::pair<int, double>> samples;
  hostkit::FrameTarget target;
  std::string error;
  ASSERT_TRUE(target.Create(16, 16, hostkit::PixelFormat::Rgba8, error));
  target.Bind();
  for (int cycle = 0; cycle <= kCycles; ++cycle) {
    if (cycle >= kWarmUp && cycle % kSampleEvery == 0) samples.push_back({cycle, static_cast<double>(HeapBytesInUse())});
    if (cycle == kCycles) break;

    InstanceHandle handle = Create(16, 16);
    ASSERT_NE(handle, nullptr) << "cycle " << cycle;
    ASSERT_EQ(Frame(handle), FF_SUCCESS);
    const Tessarvander& plugin = Plugin(handle);
    std::vector<GLuint> programs, shaders;
    for (const ffglex::ShaderProgram& program : plugin.kernelPrograms) {
      programs.push_back(program.program);
      shaders.insert(shaders.end(), {program.vertexShader, program.fragmentShader});
    }
    const GLuint buffer = plugin.screenQuad.vertexBuffer, array = plugin.screenQuad.vertexArray;
    Destroy(handle);
    // Code 19 leaves no program or shader of any kernel behind.
    for (GLuint program : programs) ASSERT_FALSE(glIsProgram(program)) << "cycle " << cycle;
    for (GLuint shader : shaders) ASSERT_FALSE(glIsShader(shader)) << "cycle " << cycle;
    ASSERT_FALSE(glIsBuffer(buffer));
    ASSERT_FALSE(glIsVertexArray(array));
  }
  std::vector<double> slopes;
  for (size_t a = 0; a < samples.size(); ++a)
    for (size_t b = a + 1; b < samples.size(); ++b)
      slopes.push_back((samples[b].second - samples[a].second) / (samples[b].first - samples[a].first));
  std::nth_element(slopes.begin(), slopes.begin() + slopes.size() / 2, slopes.end());
  const double trend = slopes[slopes.size() / 2];
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer holds freed memory in quarantine; LeakSanitizer checks
  // for leaks in that build instead.
  (void)trend;
  (void)kAllowedBytesPerCycle;
#else
  EXPECT_LT(trend, kAllowedBytesPerCycle) << "the heap grows by " << trend << " bytes a cycle";
#endif
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(StressTest, SixteenInstancesEachDrawWhatTheyDrawAlone) {
  constexpr int kInstances = 16;
  constexpr int kFrames = 12;
  std::mt19937 random(16);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<std::vector<float>> settings(kInstances);
  for (auto& values : settings)
    for (uint32_t index = 0; index < kParameterCount; ++index) values.push_back(unit(random));

  auto draw = [&](const std::vector<int>& which) {
    std::vector<std::unique_ptr<hostkit::FrameTarget>> targets;
    std::vector<InstanceHandle> handles;
    std::string error;
    for (int i : which) {
      targets.push_back(std::make_unique<hostkit::FrameTarget>());
      EXPECT_TRUE(targets.back()->Create(40, 30, hostkit::PixelFormat::Rgba32F, error));
      handles.push_back(Create(40, 30));
      for (uint32_t index = 0; index < kParameterCount; ++index) Set(handles.back(), index, settings[i][index]);
    }
    for (int frame = 0; frame < kFrames; ++frame) {
      for (size_t k = 0; k < handles.size(); ++k) {
        targets[k]->Bind();
        EXPECT_EQ(Frame(handles[k]), FF_SUCCESS);
      }
    }
    std::vector<std::vector<float>> pictures;
    for (size_t k = 0; k < handles.size(); ++k) {
      pictures.push_back(targets[k]->ReadRgba32F());
      Destroy(handles[k]);
    }
    return pictures;
  };

  std::vector<int> everyone;
  for (int i = 0; i < kInstances; ++i) everyone.push_back(i);
  const auto together = draw(everyone);
  for (int i = 0; i < kInstances; ++i) {
    const auto alone = draw({i});
    EXPECT_EQ(alone[0], together[static_cast<size_t>(i)]) << "instance " << i;
  }
}

// ---- Parameter storms ---------------------------------------------------------

TEST_F(StressTest, ParameterStormsNeverBreakThePicture) {
  hostkit::FrameTarget target;
  std::string error;
  ASSERT_TRUE(target.Create(32, 24, hostkit::PixelFormat::Rgba32F, error));
  InstanceHandle handle = Create(32, 24);
  ASSERT_NE(handle, nullptr);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> slider(-10.0f, 10.0f);
  std::uniform_int_distribution<uint32_t> anyIndex(0, 30);
  const float nonFinite[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity()};

  // Values a host slider can overshoot to: every pixel stays finite.
  for (int write = 0; write < 3000; ++write) {
    const uint32_t index = anyIndex(random);
    const float value = slider(random);
    const uint32_t answer = Set(handle, index, value);
    if (index < kParameterCount) {
      ASSERT_EQ(answer, FF_SUCCESS);
      ASSERT_EQ(Get(handle, index), value);
    } else {
      ASSERT_EQ(answer, FF_FAIL) << "index " << index;
    }
    if (write % 5 == 0) {
      const float kept = Get(handle, index % kParameterCount);
      ASSERT_EQ(Set(handle, index % kParameterCount, nonFinite[write % 3]), FF_FAIL);
      ASSERT_EQ(Get(handle, index % kParameterCount), kept) << "refused values keep the old one";
    }
    if (write % 10 == 0) {
      target.Bind();
      ASSERT_EQ(Frame(handle), FF_SUCCESS);
      for (float channel : target.ReadRgba32F())
        ASSERT_TRUE(std::isfinite(channel)) << "after write " << write << " (index " << index << " = " << value << ")";
    }
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  // Finite but huge values: nothing may become infinite or NaN for good.
  const float huge[] = {3.0e38f, -3.0e38f, 1.0e30f, -1.0e20f, 1.0e10f};
  for (int write = 0; write < 400; ++write) {
    Set(handle, anyIndex(random) % kParameterCount, huge[write % 5]);
    if (write % 4 == 0) {
      target.Bind();
      ASSERT_EQ(Frame(handle), FF_SUCCESS);
    }
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  // Back in range: the eased values settle, the clock is a number, and the
  // picture is the one a fresh instance draws in the same state.
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<std::pair<uint32_t, float>> calm;
  for (uint32_t index = 0; index < kParameterCount; ++index) {
    calm.push_back({index, unit(random)});
    Set(handle, index, calm.back().second);
  }
  target.Bind();
  for (int frame = 0; frame < 2000; ++frame) ASSERT_EQ(Frame(handle), FF_SUCCESS);
  const Tessarvander& stormed = Plugin(handle);
  EXPECT_TRUE(std::isfinite(stormed.travelClock)) << stormed.travelClock;
  EXPECT_NEAR(stormed.easedSpeed, stormed.paramSpeed * 2.0f, 1e-3f);
  EXPECT_NEAR(stormed.easedDepthLayers, stormed.paramDepthLayers, 1e-3f);
  const std::vector<float> picture = target.ReadRgba32F();
  for (float channel : picture) ASSERT_TRUE(std::isfinite(channel));

  testsupport::RenderHarness fresh(32, 24);
  ASSERT_TRUE(fresh.Ready());
  fresh.SetSettled(calm);
  Tessarvander& same = fresh.Plugin();
  same.easedSpeed = stormed.easedSpeed;
  same.easedDirection = stormed.easedDirection;
  same.easedPulseSpeed = stormed.easedPulseSpeed;
  same.easedDepthLayers = stormed.easedDepthLayers;
  same.easedBranches = stormed.easedBranches;
  same.travelClock = stormed.travelClock;
  // One frame on each, from the same state.
  target.Bind();
  ASSERT_EQ(Frame(handle), FF_SUCCESS);
  ASSERT_TRUE(fresh.Frame());
  EXPECT_EQ(fresh.ReadPixels(), target.ReadRgba32F());
}

// ---- Viewports ----------------------------------------------------------------

TEST_F(StressTest, ViewportsFromOnePixelToTheLargestAllowed) {
  GLint maximum[2] = {0, 0};
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, maximum);
  struct Size {
    int width, height;
  };
  const std::vector<Size> sizes = {{1, 1},    {1, 4096}, {4096, 1}, {3, 7},
                                   {maximum[0], maximum[1]}, {maximum[0], 1}, {1, maximum[1]}};
  InstanceHandle handle = Create(1, 1);
  ASSERT_NE(handle, nullptr);
  for (int round = 0; round < 2; ++round) {
    for (const Size& size : sizes) {
      SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
      // The frame buffer is kept small: GL clips the largest viewports to it,
      // while the plugin still sees (and draws for) the whole viewport.
      hostkit::FrameTarget target;
      std::string error;
      ASSERT_TRUE(target.Create(std::min(size.width, 512), std::min(size.height, 512),
                                hostkit::PixelFormat::Rgba32F, error));
      glBindFramebuffer(GL_FRAMEBUFFER, target.FrameBuffer());
      glViewport(0, 0, size.width, size.height);
      ViewportRecord viewport{0, 0, static_cast<uint32_t>(size.width), static_cast<uint32_t>(size.height)};
      ASSERT_EQ(CallWith(FC::Resize, &viewport, handle), FF_SUCCESS);
      ASSERT_EQ(Frame(handle), FF_SUCCESS);
      GLuint program = Plugin(handle).CurrentProgram().program;
      float resolution[2] = {0, 0};
      glGetUniformfv(program, glGetUniformLocation(program, "resolution"), resolution);
      EXPECT_EQ(resolution[0], static_cast<float>(size.width));
      EXPECT_EQ(resolution[1], static_cast<float>(size.height));
      for (float channel : target.ReadRgba32F()) ASSERT_TRUE(std::isfinite(channel));
      EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
  }
}

// ---- Calls in unusual orders --------------------------------------------------

TEST_F(StressTest, CallsInUnusualOrdersAreAnswered) {
  hostkit::FrameTarget target;
  std::string error;
  ASSERT_TRUE(target.Create(16, 16, hostkit::PixelFormat::Rgba8, error));
  target.Bind();

  InstanceHandle first = Create();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Frame(first), FF_SUCCESS) << "a frame before any connect connects";
  EXPECT_TRUE(Plugin(first).connected);
  EXPECT_EQ(Call(FC::Disconnect, 0, first), FF_SUCCESS);
  EXPECT_EQ(Call(FC::Disconnect, 0, first), FF_SUCCESS) << "disconnect twice";
  EXPECT_EQ(Call(FC::Connect, 0, first), FF_SUCCESS);
  EXPECT_EQ(Call(FC::Connect, 0, first), FF_SUCCESS) << "connect twice";

  // The plugin de-initialised while instances live: they go on working, and
  // plugin-level questions make a new query instance.
  EXPECT_EQ(Call(FC::Deinitialise), FF_SUCCESS);
  EXPECT_EQ(Frame(first), FF_SUCCESS);
  EXPECT_EQ(Call(FC::GetParameterCount), kParameterCount);
  EXPECT_EQ(Set(first, 3, 0.9f), FF_SUCCESS);
  EXPECT_EQ(Call(FC::Deinitialise), FF_SUCCESS);
  InstanceHandle second = Create();
  ASSERT_NE(second, nullptr) << "create after de-initialise";
  EXPECT_EQ(Frame(second), FF_SUCCESS);
  EXPECT_EQ(Call(FC::Deinitialise), FF_SUCCESS);
  EXPECT_EQ(Call(FC::Deinitialise), FF_SUCCESS) << "de-initialise twice";
  Destroy(first);
  Destroy(second);
  EXPECT_EQ(Call(FC::Initialise), FF_SUCCESS);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
