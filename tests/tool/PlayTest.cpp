// `tessarvander play` driven from outside as a performer drives it, in a real
// window under a virtual X server: OSC from liblo's oscsend and from a liblo
// client, keys from xdotool, stills and takes compared with what render draws.
// Runs under xvfb-run (see tests/CMakeLists.txt); without a display it skips.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <arpa/inet.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <cmath>
#include <fstream>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "PlayerProcess.h"
#include "RunProgram.h"
#include "WebClient.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunProgram;

using testsupport::kPatience;
using testsupport::OscSend;
using Player = testsupport::PlayerProcess;

class PlayTest : public testsupport::PlayerTest {
 protected:
  static std::string Bytes(const std::string& path) { return ReadFile(path); }
};

// A preset, OSC changes from oscsend, a still saved live, a take of the
// whole session: the still is what render draws from the preset at that
// frame, and the take re-renders to the same still.
TEST_F(PlayTest, OscChangesShowAndTheTakeRendersTheSameFrames) {
  std::ofstream(Path("look.json")) << R"({"format": "tessarvander-preset", "version": 1,
      "parameters": {"Fractal Type": 0.6, "Color Mode": 0.45, "Brightness": 0.9}})";
  Player player(folder, {"--preset", Path("look.json"), "--osc", std::to_string(port), "--take", Path("session.take")});
  ASSERT_TRUE(player.WaitFor("listening for OSC"));
  OscSend(port, {"/tessarvander/still", "s", "first.png"});
  std::string first, second;
  ASSERT_TRUE(player.WaitFor(R"(saved still \S+first\.png \(frame (\d+))", first));
  Render({"--preset", Path("look.json"), "--frames", first, "-o", Path("render-first.png")});
  EXPECT_EQ(Bytes(Path("first.png")), Bytes(Path("render-first.png"))) << "the live still at frame " << first;

  OscSend(port, {"/tessarvander/param/mirror", "f", "0.45"});
  OscSend(port, {"/tessarvander/param/13", "f", "0.3"});
  OscSend(port, {"/tessarvander/still", "s", "second.png"});
  ASSERT_TRUE(player.WaitFor(R"(saved still \S+second\.png \(frame (\d+))", second));
  EXPECT_NE(Bytes(Path("first.png")), Bytes(Path("second.png")));
  player.Key("ctrl+q");
  EXPECT_EQ(player.Wait(), 0) << player.Errors();
  ASSERT_TRUE(fs::exists(Path("session.take")));

  for (const auto& [still, frame] : {std::pair{std::string("first"), first}, {"second", second}}) {
    Render({"--take", Path("session.take"), "--frames", frame, "-o", Path("take-" + still + ".png")});
    EXPECT_EQ(Bytes(Path(still + ".png")), Bytes(Path("take-" + still + ".png"))) << still << " still from the take";
  }
}

// Keys pressed in a real window reach the player: Space pauses (no frame is
// processed, so two stills are the same), S saves a still, Space plays on;
// on stage, F and Esc go full screen and back, one Q asks and a second one
// quits.
TEST_F(PlayTest, KeysInARealWindowReachThePlayer) {
  Player player(folder, {});
  ASSERT_TRUE(player.WaitFor("press H for the keys"));
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
  player.Key("f");
  player.Key("Escape");
  player.Key("q");
  ASSERT_TRUE(player.WaitFor("press Q again to quit"));
  EXPECT_TRUE(player.Running()) << "still playing after F, Esc and one Q";
  player.Key("q");
  EXPECT_EQ(player.Wait(), 0) << player.Errors();
}

// The picture alone on the output monitor, the panel in its own window: the
// plugin draws at the output's size, so a still has the monitor's pixels.
TEST_F(PlayTest, TheOutputMonitorShowsThePictureAtItsOwnSize) {
  Player player(folder, {"--output-monitor", "0", "--osc", std::to_string(port)});
  ASSERT_TRUE(player.WaitFor("listening for OSC"));
  OscSend(port, {"/tessarvander/still", "s", "projector.png"});
  ASSERT_TRUE(player.WaitFor(R"(saved still \S+projector\.png \(frame \d+ of the flight, 1280x720\))"));
  OscSend(port, {"/tessarvander/pause"});
  EXPECT_TRUE(player.Running());
  player.Interrupt();
  EXPECT_EQ(player.Wait(), 130) << player.Errors();
}

// A PipeWire daemon of the test's own, in a private runtime folder, stopped
// by its pid; the children the test starts meanwhile find it there.
class PipeWireDaemon {
 public:
  explicit PipeWireDaemon(const fs::path& runtime) {
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    const char* previous = std::getenv("XDG_RUNTIME_DIR");
    if (previous) saved = previous;
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    pid = testsupport::StartProgram({"/usr/bin/pipewire"}, (runtime / "pipewire.log").string());
    started = pid > 0;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (started && !fs::exists(runtime / "pipewire-0") && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    started = started && fs::exists(runtime / "pipewire-0");
  }
  ~PipeWireDaemon() {
    testsupport::StopProgram(pid);
    if (saved.empty()) unsetenv("XDG_RUNTIME_DIR");
    else setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  }
  bool Started() const { return started; }

 private:
  int pid = -1;
  bool started = false;
  std::string saved;
};

// The output as a PipeWire video source: a consumer linked to it receives
// frames equal to the player's still of the same (paused) picture. Without
// a daemon the player says so in one line and plays on.
TEST_F(PlayTest, PipeWireCarriesThePictureToAnotherApp) {
  PipeWireDaemon daemon(folder / "runtime");
  {  // A runtime folder without a daemon.
    fs::create_directories(folder / "empty");
    setenv("XDG_RUNTIME_DIR", (folder / "empty").c_str(), 1);
    Player alone(folder, {"--pipewire", "--frames", "30"});
    EXPECT_EQ(alone.Wait(), 0) << alone.Errors();
    EXPECT_NE(alone.Errors().find("PipeWire: no daemon"), std::string::npos) << alone.Errors();
    setenv("XDG_RUNTIME_DIR", (folder / "runtime").c_str(), 1);
  }
  ASSERT_TRUE(daemon.Started()) << ReadFile((folder / "runtime" / "pipewire.log").string());
  Player player(folder, {"--pipewire", "tessarvander-test", "--osc", std::to_string(port)});
  ASSERT_TRUE(player.WaitFor("publishing the output to PipeWire as node tessarvander-test"));
  OscSend(port, {"/tessarvander/pause"});
  OscSend(port, {"/tessarvander/still", "s", "paused.png"});
  ASSERT_TRUE(player.WaitFor(R"(saved still \S+paused\.png)"));
  const auto grabbed = RunProgram({PIPEWIRE_GRAB, "tessarvander-test", "5", Path("grabbed.rgba")});
  ASSERT_EQ(grabbed.exitCode, 0) << grabbed.out << grabbed.err;
  EXPECT_EQ(grabbed.out, "160x90 5\n");
  const auto still = RunProgram({"/usr/bin/ffmpeg", "-v", "error", "-i", Path("paused.png"), "-f", "rawvideo",
                                 "-pix_fmt", "rgba", "pipe:1"});
  const std::string frames = Bytes(Path("grabbed.rgba"));
  ASSERT_EQ(frames.size(), 5 * still.out.size());
  for (size_t frame = 0; frame < 5; ++frame)
    EXPECT_TRUE(frames.compare(frame * still.out.size(), still.out.size(), still.out) == 0) << "frame " << frame;
  player.Key("ctrl+q");
  EXPECT_EQ(player.Wait(), 0) << player.Errors();
}

// OSCQuery end to end: the address space as JSON with the live values,
// HOST_INFO naming an address the client can use, and a WebSocket that
// LISTENs to a parameter hearing the change an OSC message made. (The
// server's bounds against hostile clients are tested in-process.)
TEST_F(PlayTest, OscQueryDescribesTheAddressesAndPushesChanges) {
  const int queryPort = port + 1;
  Player player(folder, {"--osc", std::to_string(port), "--oscquery", std::to_string(queryPort)});
  ASSERT_TRUE(player.WaitFor("remote and OSCQuery on http://127.0.0.1:" + std::to_string(queryPort)));
  const auto info = testsupport::HttpGet(queryPort, "/?HOST_INFO");
  EXPECT_NE(info.body.find("\"OSC_IP\":\"127.0.0.1\",\"OSC_PORT\":" + std::to_string(port)), std::string::npos)
      << info.body;
  EXPECT_NE(info.body.find("\"LISTEN\":true"), std::string::npos) << info.body;
  const auto node = testsupport::HttpGet(queryPort, "/tessarvander/param/fractal_type");
  for (const char* part : {"\"TYPE\":\"f\"", "\"ACCESS\":3", "\"RANGE\":[{\"MIN\":0.0,\"MAX\":1.0}]",
                           "\"VALUE\":[0.6", "Kaleidoscope", "\"meaning\""})
    EXPECT_NE(node.body.find(part), std::string::npos) << part << " in " << node.body;

  testsupport::WebSocketClient listener;
  std::string error;
  ASSERT_TRUE(listener.Open(queryPort, "/", error)) << error;
  ASSERT_TRUE(listener.Send(R"({"COMMAND":"LISTEN","DATA":"/tessarvander/param/zoom"})", false));
  std::string message;
  ASSERT_TRUE(listener.Receive(message, 30.0)) << "the value as it stands";
  OscSend(port, {"/tessarvander/param/zoom", "f", "0.75"});
  // "/tessarvander/param/zoom" ",f" 0.75 as OSC bytes.
  const std::string changed = std::string("/tessarvander/param/zoom\0\0\0\0,f\0\0", 32) + std::string("\x3f\x40\0\0", 4);
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (message != changed && std::chrono::steady_clock::now() < deadline) listener.Receive(message, 5.0);
  EXPECT_EQ(message, changed);
  player.Key("ctrl+q");
  EXPECT_EQ(player.Wait(), 0) << player.Errors();
}

// Bad messages are dropped with one line per address and a flood of 10,000
// messages does not stall the loop: a query is answered afterwards, a still
// is saved, and the player quits normally.
TEST_F(PlayTest, BadMessagesAndAFloodLeaveTheLoopRunning) {
  // A controller of our own: it asks, and hears every change (--osc-reply).
  lo_server client = lo_server_new(nullptr, nullptr);
  ASSERT_NE(client, nullptr);
  Player player(folder, {"--osc", std::to_string(port), "--osc-reply",
                         "127.0.0.1:" + std::to_string(lo_server_get_port(client))});
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

  // Answers come in arrival order, after the messages before them: a query
  // sent after the flood and a set answers that set, the first time.
  float answered = NAN, reportedZoom = NAN, bundled = NAN;
  const auto keep = [](const char*, const char*, lo_arg** argv, int, lo_message, void* where) {
    *static_cast<float*>(where) = argv[0]->f;
    return 0;
  };
  lo_server_add_method(client, "/tessarvander/param/Zoom", "f", keep, &answered);
  lo_server_add_method(client, "/tessarvander/param/zoom", "f", keep, &reportedZoom);
  lo_server_add_method(client, "/tessarvander/param/Brightness", "f", keep, &bundled);
  const auto hear = [&](const float& value, float wanted) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (value != wanted && std::chrono::steady_clock::now() < deadline) lo_server_recv_noblock(client, 200);
    return value == wanted;
  };
  lo_send_from(player_address, client, LO_TT_IMMEDIATE, "/tessarvander/param/Zoom", "");
  EXPECT_TRUE(hear(answered, 0.25f)) << "the value set last, answered after the flood: " << answered;
  EXPECT_TRUE(hear(reportedZoom, 0.25f)) << "the change went to --osc-reply: " << reportedZoom;
  // A bundle: its set and its query together, the query answering the set.
  lo_bundle bundle = lo_bundle_new(LO_TT_IMMEDIATE);
  lo_message set = lo_message_new(), query = lo_message_new();
  lo_message_add_float(set, 0.65f);
  lo_bundle_add_message(bundle, "/tessarvander/param/Brightness", set);
  lo_bundle_add_message(bundle, "/tessarvander/param/Brightness", query);
  lo_send_bundle_from(player_address, client, bundle);
  EXPECT_TRUE(hear(bundled, 0.65f)) << bundled;
  lo_bundle_free_recursive(bundle);
  lo_send(player_address, "/tessarvander/still", "s", "after.png");
  EXPECT_TRUE(player.WaitFor(R"(saved still \S+after\.png)"));

  // Names from outside: only new files in --out. A file outside, one of the
  // same name inside (kept, with its mode), and a folder, a FIFO and an
  // endless device as presets are all refused; the show goes on.
  const fs::path outside = folder.string() + "-outside";
  fs::create_directories(outside);
  std::ofstream((outside / "important.conf").string()) << "keep me";
  fs::permissions(outside / "important.conf", fs::perms::owner_read | fs::perms::owner_write);
  std::ofstream(Path("mine.png")) << "not a picture";
  fs::permissions(Path("mine.png"), fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(mkfifo(Path("fifo.json").c_str(), 0600), 0);
  // Up and out of --out, under a name no one else uses.
  const std::string escaping = folder.filename().string() + "-escaped.png";
  for (const std::string& name : {(outside / "important.conf").string(), "../" + escaping, std::string(".hidden.png"),
                                  std::string("a\nb.png")})
    lo_send(player_address, "/tessarvander/still", "s", name.c_str());
  for (const std::string& preset : {folder.string(), Path("fifo.json"), std::string("/dev/zero")})
    lo_send(player_address, "/tessarvander/preset/load", "s", preset.c_str());
  lo_send(player_address, "/tessarvander/still", "s", "mine.png");
  EXPECT_TRUE(player.WaitFor(R"(saved still \S+mine-2\.png)"));
  // A burst of stills: one a frame, the rest refused and counted.
  for (int still = 0; still < 300; ++still)
    lo_send(player_address, "/tessarvander/still", "s", ("burst" + std::to_string(still) + ".png").c_str());
  EXPECT_TRUE(player.WaitFor(R"(saved still \S+burst0\.png)"));
  player.Key("ctrl+q");
  EXPECT_EQ(player.Wait(), 0);
  EXPECT_EQ(ReadFile(outside / "important.conf"), "keep me");
  EXPECT_EQ(fs::status(outside / "important.conf").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadFile(Path("mine.png")), "not a picture");
  EXPECT_FALSE(fs::exists(folder.parent_path() / escaping));
  size_t burst = 0;
  for (const auto& entry : fs::directory_iterator(folder)) burst += entry.path().filename().string().rfind("burst", 0) == 0;
  EXPECT_LT(burst, 300u) << "at most one still a frame";
  EXPECT_NE(player.Errors().find("refused"), std::string::npos) << player.Errors();
  EXPECT_NE(player.Errors().find("not a regular file"), std::string::npos) << player.Errors();
  fs::remove_all(outside);
  lo_server_free(client);
  lo_address_free(player_address);

  // One line for each address and reason, however often it came.
  const std::string errors = player.Errors();
  for (const char* line : {"dropped /tessarvander/nothing: unknown address", "dropped /tessarvander/param/sparkle: no such",
                           "dropped /tessarvander/param/zoom: takes one number",
                           "dropped /tessarvander/param/zoom: the value is not a finite",
                           "dropped /tessarvander/still: takes one string"}) {
    const size_t first = errors.find(line);
    EXPECT_NE(first, std::string::npos) << line << " in " << errors;
    EXPECT_EQ(errors.find(line, first + 1), std::string::npos) << "one line for " << line;
  }
}

}  // namespace

namespace {

// Whether a program of the system is there to run.
bool Installed(const char* path) { return access(path, X_OK) == 0; }

}  // namespace

// The stalls of a real stage: the take's filesystem frozen (fsfreeze on a
// filesystem of the test's own, on a loop device) and standard error a pipe
// nobody reads, while a controller floods messages that fail. The flight
// goes on: its frame count answers and grows, the longest gap between
// process calls stays short, and once the disk thaws the take is whole.
// Needs root and loop devices; skipped where they are not.
TEST_F(PlayTest, AFrozenDiskAndAnUnreadTerminalLeaveTheShowRunning) {
  if (geteuid() != 0 || !Installed("/sbin/fsfreeze") || !Installed("/sbin/mkfs.ext4") || !Installed("/bin/mount"))
    GTEST_SKIP() << "needs root, fsfreeze, mkfs.ext4 and mount";
  const std::string image = Path("disk.img"), disk = Path("disk");
  fs::create_directories(disk);
  ASSERT_EQ(truncate(image.c_str(), 0), -1);
  std::ofstream(image).close();
  ASSERT_EQ(truncate(image.c_str(), 64 << 20), 0);
  ASSERT_EQ(RunProgram({"/sbin/mkfs.ext4", "-q", "-F", image}).exitCode, 0);
  if (RunProgram({"/bin/mount", "-o", "loop", image, disk}).exitCode != 0) GTEST_SKIP() << "no loop devices here";
  int unread[2];
  ASSERT_EQ(pipe2(unread, O_CLOEXEC), 0);
  double longestGap = -1.0;
  long framesBefore = 0, framesDuring = 0;
  {
    Player player(folder, {"--osc", std::to_string(port), "--take", disk + "/show.take"}, unread[1]);
    ASSERT_TRUE(player.WaitFor("listening for OSC"));
    lo_server client = lo_server_new(nullptr, nullptr);
    lo_address address = lo_address_new("127.0.0.1", std::to_string(port).c_str());
    float answer = -1.0f;
    lo_server_add_method(client, nullptr, "f", [](const char*, const char*, lo_arg** argv, int, lo_message, void* to) {
      *static_cast<float*>(to) = argv[0]->f;
      return 0;
    }, &answer);
    const auto ask = [&](const char* what) {
      answer = -1.0f;
      lo_send_from(address, client, LO_TT_IMMEDIATE, what, "");
      for (int wait = 0; wait < 20 && answer < 0.0f; ++wait) lo_server_recv_noblock(client, 50);
      return answer;
    };
    framesBefore = static_cast<long>(ask("/tessarvander/status/frame"));
    ASSERT_EQ(RunProgram({"/sbin/fsfreeze", "-f", disk}).exitCode, 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    while (std::chrono::steady_clock::now() < until) {
      for (int k = 0; k < 200; ++k) {
        lo_send(address, "/tessarvander/midi/learn", "s", ("no-such-knob-" + std::to_string(k)).c_str());
        lo_send(address, "/tessarvander/param/hue", "f", static_cast<float>(k) / 200.0f);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    framesDuring = static_cast<long>(ask("/tessarvander/status/frame"));
    longestGap = ask("/tessarvander/status/longest-gap");
    RunProgram({"/sbin/fsfreeze", "-u", disk});
    player.Key("ctrl+q");
    EXPECT_EQ(player.Wait(), 0) << player.Errors();
    lo_address_free(address);
    lo_server_free(client);
  }
  close(unread[1]);
  close(unread[0]);
  EXPECT_GT(framesDuring, framesBefore + 6 * 30) << "the flight stood still while the disk was frozen";
  EXPECT_GE(longestGap, 0.0) << "no answer while the disk was frozen";
  EXPECT_LT(longestGap, 0.5) << "a process call waited on the disk or the terminal";
  Render({"--take", disk + "/show.take", "-o", Path("take.png")});
  RunProgram({"/bin/umount", disk});
}
