// Runs a program as a user would, with its output captured, for the tests
// that check whole programs from outside.
#pragma once

#include <chrono>

#include <string>
#include <vector>

namespace testsupport {

// How long to wait for another program to do something before the test
// gives up; generous, for a busy machine. Nothing is timed against it.
constexpr auto kPatience = std::chrono::seconds(120);

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
