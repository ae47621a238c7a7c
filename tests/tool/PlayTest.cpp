// `tessarvander play` driven from outside as a performer drives it, in a real
// window under a virtual X server: OSC from liblo's oscsend and from a liblo
// client, keys from xdotool, stills and takes compared with what render draws.
// Runs under xvfb-run (see tests/CMakeLists.txt); without a display it skips.
#include <gtest/gtest.h>
#include <lo/lo.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "RunProgram.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunProgram;

// How long to wait for the player to do something before the test gives up;
// generous, for a busy machine. Nothing is timed against it.
constexpr auto kPatience = std::chrono::seconds(120);

// A running `tessarvander play`, its output in files.
class Player {
 public:
  Player(const fs::path& folder, std::vector<std::string> arguments) : out(folder / "play.out"), err(folder / "play.err") {
    arguments.insert(arguments.begin(), {TESSARVANDER_TOOL, "play", "--size", "160x90", "--out", folder.string()});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Player() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  // Waits until standard output has the `occurrence`-th line matching
  // `pattern`; its first group, if any. False when play never says it.
  bool WaitFor(const std::string& pattern, std::string& group, size_t occurrence = 1) {
    const std::regex wanted(pattern);
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      output = ReadFile(out);
      size_t seen = 0;
      for (std::sregex_iterator match(output.begin(), output.end(), wanted), end; match != end; ++match) {
        if (++seen < occurrence) continue;
        group = match->size() > 1 ? (*match)[1].str() : "";
        return true;
      }
      if (!Running()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
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

  // Waits for the player to end; its exit code.
  int Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  bool Running() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }
  std::string Errors() const { return ReadFile(err); }

 private:
  fs::path out;
  fs::path err;
  pid_t pid = -1;
  std::string output;
};

// Sends with liblo's own command-line client, as a user would.
void OscSend(int port, const std::vector<std::string>& message) {
  std::vector<std::string> arguments = {"/usr/bin/oscsend", "127.0.0.1", std::to_string(port)};
  arguments.insert(arguments.end(), message.begin(), message.end());
  EXPECT_EQ(RunProgram(arguments).exitCode, 0);
}

class PlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display; the suite runs this test under xvfb-run";
    folder = fs::temp_directory_path() / ("tessarvander-play-test-" + std::to_string(getpid()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    port = 20000 + getpid() % 20000;
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string Path(const std::string& name) const { return (folder / name).string(); }
  std::string Render(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {TESSARVANDER_TOOL, "render", "--size", "160x90", "-q"});
    const auto result = RunProgram(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.err;
  }
  static std::string Bytes(const std::string& path) { return ReadFile(path); }

  fs::path folder;
  int port = 0;
};

// A preset, OSC changes from oscsend, a still saved live, a take of the
// whole session: the still is what render draws from the preset at that
// frame, and the take re-renders to the same still.
TEST_F(PlayTest, OscChangesShowAndTheTakeRendersTheSameFrames) {
  std::ofstream(Path("look.json")) << R"({"format": "tessarvander-preset", "version": 1,
      "parameters": {"Fractal Type": 0.6, "Color Mode": 0.45, "Brightness": 0.9}})";
  Player player(folder, {"--preset", Path("look.json"), "--osc", std::to_string(port), "--take", Path("session.take")});
  ASSERT_TRUE(player.WaitFor("listening for OSC"));
  OscSend(port, {"/tessarvander/still", "s", Path("first.png")});
  std::string first, second;
  ASSERT_TRUE(player.WaitFor(R"(saved still \S+first\.png \(frame (\d+))", first));
  Render({"--preset", Path("look.json"), "--frames", first, "-o", Path("render-first.png")});
  EXPECT_EQ(Bytes(Path("first.png")), Bytes(Path("render-first.png"))) << "the live still at frame " << first;

  OscSend(port, {"/tessarvander/param/mirror", "f", "0.45"});
  OscSend(port, {"/tessarvander/param/13", "f", "0.3"});
  OscSend(port, {"/tessarvander/still", "s", Path("second.png")});
  ASSERT_TRUE(player.WaitFor(R"(saved still \S+second\.png \(frame (\d+))", second));
  EXPECT_NE(Bytes(Path("first.png")), Bytes(Path("second.png")));
  player.Key("q");
  EXPECT_EQ(player.Wait(), 0) << player.Errors();
  ASSERT_TRUE(fs::exists(Path("session.take")));

  for (const auto& [still, frame] : {std::pair{std::string("first"), first}, {"second", second}}) {
    Render({"--take", Path("session.take"), "--frames", frame, "-o", Path("take-" + still + ".png")});
    EXPECT_EQ(Bytes(Path(still + ".png")), Bytes(Path("take-" + still + ".png"))) << still << " still from the take";
  }
}

// Keys: S saves a still, Space pauses (no frame is processed, so two stills
// are the same), Space plays on, Q quits.
TEST_F(PlayTest, KeysPauseSaveAndQuit) {
  Player player(folder, {});
  ASSERT_TRUE(player.WaitFor("keys: "));
  const std::string still = R"(saved still (\S+ \(frame \d+))";
  std::string paused, again, playing;
  player.Key("space");
  player.Key("s");
  ASSERT_TRUE(player.WaitFor(still, paused));
  player.Key("s");
  ASSERT_TRUE(player.WaitFor(still, again, 2));
  const auto frameOf = [](const std::string& text) { return std::stol(text.substr(text.rfind(' ') + 1)); };
  const auto fileOf = [](const std::string& text) { return text.substr(0, text.find(' ')); };
  EXPECT_EQ(frameOf(paused), frameOf(again)) << "no frame processed while paused";
  EXPECT_EQ(Bytes(fileOf(paused)), Bytes(fileOf(again)));
  player.Key("space");
  player.Key("s");
  ASSERT_TRUE(player.WaitFor(still, playing, 3));
  EXPECT_GT(frameOf(playing), frameOf(again));
  player.Key("p");
  EXPECT_TRUE(player.WaitFor(R"(saved preset \S+\.json)"));
  player.Key("Escape");
  EXPECT_EQ(player.Wait(), 0) << player.Errors();
}

// Bad messages are dropped with one line per address and a flood of 10,000
// messages does not stall the loop: a query is answered afterwards, a still
// is saved, and the player quits normally.
TEST_F(PlayTest, BadMessagesAndAFloodLeaveTheLoopRunning) {
  Player player(folder, {"--osc", std::to_string(port)});
  ASSERT_TRUE(player.WaitFor("listening for OSC"));
  lo_address player_address = lo_address_new("127.0.0.1", std::to_string(port).c_str());
  for (int repeat = 0; repeat < 3; ++repeat) {
    lo_send(player_address, "/tessarvander/nothing", "i", 1);
    lo_send(player_address, "/tessarvander/param/sparkle", "f", 0.5f);
    lo_send(player_address, "/tessarvander/param/zoom", "s", "big");
    lo_send(player_address, "/tessarvander/param/zoom", "ff", 0.1f, 0.2f);
    lo_send(player_address, "/tessarvander/param/zoom", "f", NAN);
    lo_send(player_address, "/tessarvander/still", "i", 3);
  }
  for (int message = 0; message < 10000; ++message)
    lo_send(player_address, "/tessarvander/param/hue", "f", static_cast<float>(message % 100) / 100.0f);
  lo_send(player_address, "/tessarvander/param/Zoom", "f", 0.25f);

  // A query from a server of our own, which receives the answer.
  lo_server client = lo_server_new(nullptr, nullptr);
  float answered = NAN;
  lo_server_add_method(
      client, "/tessarvander/param/Zoom", "f",
      [](const char*, const char*, lo_arg** argv, int, lo_message, void* answer) {
        *static_cast<float*>(answer) = argv[0]->f;
        return 0;
      },
      &answered);
  // A set takes effect at the next frame, and the flood may still be
  // arriving: ask until the answer is the value set last.
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (answered != 0.25f && std::chrono::steady_clock::now() < deadline) {
    lo_send(player_address, "/tessarvander/param/Zoom", "f", 0.25f);
    lo_send_from(player_address, client, LO_TT_IMMEDIATE, "/tessarvander/param/Zoom", "");
    lo_server_recv_noblock(client, 200);
  }
  EXPECT_EQ(answered, 0.25f) << "the value set last, answered after the flood";
  lo_send(player_address, "/tessarvander/still", "s", Path("after.png").c_str());
  EXPECT_TRUE(player.WaitFor(R"(saved still \S+after\.png)"));
  player.Key("q");
  EXPECT_EQ(player.Wait(), 0);
  lo_server_free(client);
  lo_address_free(player_address);

  const std::string errors = player.Errors();
  for (const char* address : {"/tessarvander/nothing", "/tessarvander/param/sparkle", "/tessarvander/param/zoom",
                              "/tessarvander/still"}) {
    const std::string line = std::string("dropped ") + address + ":";
    const size_t first = errors.find(line);
    EXPECT_NE(first, std::string::npos) << address << " in " << errors;
    EXPECT_EQ(errors.find(line, first + 1), std::string::npos) << "one line for " << address;
  }
}

}  // namespace
