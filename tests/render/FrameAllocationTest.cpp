// The frame path allocates no memory: a host's render thread must not stall
// in the allocator, frame after frame. (Allocations inside the C driver are
// its own business; this counts the C++ heap, where the plugin's code lives.)
#include <gtest/gtest.h>

#include <vector>

#include "AllocationCounter.h"
#include "RenderHarness.h"

namespace {

class FrameAllocationTest : public testsupport::GlTest {};

TEST_F(FrameAllocationTest, TheFramePathAllocatesNothing) {
  testsupport::RenderHarness harness(16, 16);
  ASSERT_TRUE(harness.Ready());
  ASSERT_TRUE(harness.Frame());
  testsupport::StartCountingAllocations();
  bool succeeded = true;
  for (int frame = 0; frame < 10; ++frame) succeeded = harness.Frame() && succeeded;
  const int allocations = testsupport::StopCountingAllocations();
  EXPECT_TRUE(succeeded);
  EXPECT_EQ(allocations, 0);
}

TEST_F(FrameAllocationTest, TheCounterCounts) {
  volatile size_t size = 1000;  // volatile, so that the allocation cannot be elided
  testsupport::StartCountingAllocations();
  {
    std::vector<char> buffer(size);
    volatile char last = buffer[size - 1];
    (void)last;
  }
  EXPECT_EQ(testsupport::StopCountingAllocations(), 1);
}

}  // namespace
