// Counts this process's C++ heap allocations while counting is on. The
// replacement operator new and delete live in AllocationCounter.cpp, apart
// from any code that is inlined into, so that the compiler sees no mismatch.
#pragma once

namespace testsupport {

void StartCountingAllocations();
// The allocations since the start.
int StopCountingAllocations();

}  // namespace testsupport
