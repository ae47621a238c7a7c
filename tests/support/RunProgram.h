// Runs a program as a user would, with its output captured, for the tests
// that check whole programs from outside.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// How long to wait for another program to do something before the test
// gives up; generous, for a busy machine. Nothing is timed against it.
constexpr auto kPatience = std::chrono::seconds(120);

// Waits until `holds()` is true, looking again every 20 ms, for at most
// `patience`: whether it came true. How the tests wait on another program or
// thread: for a condition with a deadline, never for a fixed time.
template <typename Condition>
bool WaitUntil(Condition holds, std::chrono::milliseconds patience = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!holds()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

struct RunResult {
  int exitCode = -1;  // 128 + the signal when it was killed
  std::string out;
  std::string err;
};

// `environment` replaces the whole environment when not empty. With
// `interruptAfterMs` > 0, sends SIGINT after that many milliseconds.
RunResult RunProgram(std::vector<std::string> arguments, const std::vector<std::string>& environment = {},
                     int interruptAfterMs = 0);

// Starts a server the test stops itself (a daemon run in the foreground),
// its standard output and error into `logPath`. Its pid, or -1.
int StartProgram(std::vector<std::string> arguments, const std::string& logPath);
// Stops it: SIGTERM, then waits for it.
void StopProgram(int pid);

std::string ReadFile(const std::string& path);

// The names of the entries of a folder, sorted.
std::vector<std::string> FilesIn(const std::string& folder);

}  // namespace testsupport
