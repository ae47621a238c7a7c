// Hosts that break the one-thread rule: the plugin fails cleanly or works,
// never crashes, never fails for good, never draws wrong. Each case runs the
// threaded host as a fresh process (see ThreadedHost.cpp), since the first
// creation in a process is what races.
#include <gtest/gtest.h>

#include "RunProgram.h"

namespace {

testsupport::RunResult Host(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {THREADED_HOST, TESSARVANDER_PLUGIN_PATH});
  return testsupport::RunProgram(arguments);
}

TEST(ThreadedHost, FirstInstancesMadeAtOnceOnTwoThreadsBothWork) {
  constexpr int kRounds = 100;
  for (int round = 0; round < kRounds; ++round) {
    const auto result = Host({"race"});
    ASSERT_EQ(result.exitCode, 0) << "round " << round << ": " << result.err;
  }
}

TEST(ThreadedHost, TwoThreadsDrawWhatEachDrawsAloneWhileAScannerRuns) {
  const auto result = Host({"draw", "100"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
}

TEST(ThreadedHost, CreationWithoutAContextFailsOnlyThatOnce) {
  const auto result = Host({"late-context"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
}

}  // namespace
