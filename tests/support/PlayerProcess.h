// A running `tessarvander play` for the tests that drive it from outside,
// its output in files; and OSC sent with liblo's own command-line client.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "RunProgram.h"

extern char** environ;

namespace testsupport {

namespace fs = std::filesystem;

// A running `tessarvander play`, its output in files.
class PlayerProcess {
 public:
  // Its standard error goes to `errors` when given (a pipe of the test's),
  // else to a file.
  PlayerProcess(const fs::path& folder, std::vector<std::string> arguments, int errors = -1)
      : out(folder / "play.out"), err(folder / "play.err") {
    if (std::find(arguments.begin(), arguments.end(), "--size") == arguments.end())
      arguments.insert(arguments.begin(), {"--size", "160x90"});
    arguments.insert(arguments.begin(), {TESSARVANDER_TOOL, "play", "--out", folder.string()});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (errors >= 0) posix_spawn_file_actions_adddup2(&actions, errors, STDERR_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    // A process group of its own, as a shell gives a foreground job: a
    // terminal's Ctrl-C goes to the whole group.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~PlayerProcess() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  // Waits until the output (standard output, then standard error, where
  // problems go) has the `occurrence`-th line matching
  // `pattern`; its first group, if any. False when play never says it.
  bool WaitFor(const std::string& pattern, std::string& group, size_t occurrence = 1) {
    const std::regex wanted(pattern);
    bool said = false;
    WaitUntil([&] {
      output = ReadFile(out) + ReadFile(err);
      size_t seen = 0;
      for (std::sregex_iterator match(output.begin(), output.end(), wanted), end; match != end; ++match) {
        if (++seen < occurrence) continue;
        group = match->size() > 1 ? (*match)[1].str() : "";
        return said = true;
      }
      return !Running();
    });
    if (said) return true;
    ADD_FAILURE() << "play never said /" << pattern << "/; it said:\n" << ReadFile(out) << ReadFile(err);
    return false;
  }
  bool WaitFor(const std::string& pattern) {
    std::string ignored;
    return WaitFor(pattern, ignored);
  }

  // Presses a key in the player's window.
  void Key(const std::string& key) {
    RunProgram({"/usr/bin/xdotool", "search", "--sync", "--name", "Tessarvander", "windowfocus", "--sync", "key", key});
  }

  // Ctrl-C as typed in the player's terminal: SIGINT to its whole group.
  void Interrupt() { kill(-pid, SIGINT); }

  // Waits for the player to end; its exit code. A player that does not end
  // within the patience is killed, and the test fails.
  int Wait() {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "play did not end; killed. It said:\n" << ReadFile(out) << ReadFile(err);
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  bool Running() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }
  // A crash, as kill -9 makes one.
  void Kill() {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
  std::string Errors() const { return ReadFile(err); }

 private:
  fs::path out;
  fs::path err;
  pid_t pid = -1;
  std::string output;
};

// Sends with liblo's own command-line client, as a user would.
inline void OscSend(int port, const std::vector<std::string>& message) {
  std::vector<std::string> arguments = {"/usr/bin/oscsend", "127.0.0.1", std::to_string(port)};
  arguments.insert(arguments.end(), message.begin(), message.end());
  EXPECT_EQ(RunProgram(arguments).exitCode, 0);
}

// A test of the player in a real window: skipped without a display, with a
// folder of its own (kept when KEEP is set) and an OSC port from its pid.
class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display; the suite runs this test under xvfb-run";
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    folder = fs::temp_directory_path() / ("tessarvander-" + std::string(test->test_suite_name()) + "-" +
                                          std::to_string(getpid()) + "-" + test->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    port = 20000 + getpid() % 20000;
  }
  void TearDown() override {
    if (!std::getenv("KEEP")) fs::remove_all(folder);
  }

  std::string Path(const std::string& name) const { return (folder / name).string(); }
  // Renders at 160x90; its standard error.
  std::string Render(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {TESSARVANDER_TOOL, "render", "--size", "160x90", "-q"});
    const auto result = RunProgram(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.err;
  }

  fs::path folder;
  int port = 0;
};

}  // namespace testsupport
