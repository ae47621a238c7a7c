// The windows of `tessarvander play`: GLFW, an OpenGL 4.1 core context
// current on the calling thread with the GL entry points loaded, the keys a
// performer presses, windowed or full screen. An output window may show the
// picture alone, full screen on another monitor (the projector), while the
// first window keeps the panel; it shares the first context's objects, so the
// picture is drawn once and shown in both.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct GLFWwindow;

namespace cli {

// What a key or a panel button asks for.
enum class PlayerAction {
  TogglePause, ToggleFullscreen, LeaveFullscreen, SaveStill, ToggleRecording, SavePreset, ToggleTake,
  TogglePanel, ToggleHelp, ToggleBlackout, ToggleOutput, RecallPreset, PreviousPreset, NextPreset, Tap,
  AskToQuit,  // Q: quits when pressed twice within two seconds
  Quit        // Ctrl+Q, the panel's button, the window's close box
};

struct PlayerRequest {
  PlayerRequest(PlayerAction action, int number = 0) : action(action), number(number) {}
  PlayerAction action;
  int number;  // the preset, for RecallPreset (0 for key 1, ..., 9 for key 0)
};

struct WindowOptions {
  int width = 1280;
  int height = 720;
  bool vsync = true;
  bool fullscreen = false;
  std::string monitor;  // index or name; empty: the primary one
  std::string outputMonitor;  // for the output window; empty: none at the start
};

class PlayerWindow {
 public:
  // Null with one line in `error` when there is no display or no GL 4.1.
  static std::unique_ptr<PlayerWindow> Open(const WindowOptions& options, std::string& error);
  ~PlayerWindow();
  PlayerWindow(const PlayerWindow&) = delete;
  PlayerWindow& operator=(const PlayerWindow&) = delete;

  GLFWwindow* Handle() const { return window; }
  bool ShouldClose() const;
  // Handles the window system's events; key presses become actions.
  void PollEvents();
  // The actions of the keys pressed since the last call, in order.
  std::vector<PlayerRequest> TakeActions();
  void FramebufferSize(int& width, int& height) const;
  void ToggleFullscreen();
  bool Fullscreen() const { return fullscreen; }
  void SwapBuffers();

  // The output window: full screen on `monitor` (index or name), showing the
  // colour texture given to ShowOnOutput. False with one line when there is
  // no such monitor.
  bool OpenOutput(const std::string& monitor, std::string& error);
  void CloseOutput();
  bool HasOutput() const { return output != nullptr; }
  void OutputSize(int& width, int& height) const;
  // Draws the texture (width x height) over the whole output window and
  // swaps it; the first window's context is current again afterwards.
  void ShowOnOutput(unsigned texture, int width, int height);

 private:
  PlayerWindow() = default;
  static void OnKey(GLFWwindow* window, int key, int scancode, int action, int mods);

  GLFWwindow* window = nullptr;
  GLFWwindow* output = nullptr;
  unsigned outputReadBuffer = 0;  // a frame buffer of the output's context
  WindowOptions options;
  bool fullscreen = false;
  int windowedX = 0, windowedY = 0, windowedWidth = 0, windowedHeight = 0;
  std::vector<PlayerRequest> actions;
};

// The monitors GLFW sees, "index: name (WxH)", for --list-monitors; empty
// with a reason when there is no display.
bool ListMonitors(std::vector<std::string>& monitors, std::string& error);

// The keys, for --help, the panel and the README.
const char* KeyHelp();

}  // namespace cli
