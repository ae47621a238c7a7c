// The window that `tessarvander play` draws into: GLFW, an OpenGL 4.1 core
// context current on the calling thread with the GL entry points loaded, the
// keys a performer presses, windowed or full screen.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct GLFWwindow;

namespace cli {

// What a key or a panel button asks for.
enum class PlayerAction { TogglePause, ToggleFullscreen, SaveStill, ToggleRecording, SavePreset, ToggleTake,
                          TogglePanel, Quit };

struct WindowOptions {
  int width = 1280;
  int height = 720;
  bool vsync = true;
  bool fullscreen = false;
  std::string monitor;  // index or name; empty: the primary one
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
  std::vector<PlayerAction> TakeActions();
  void FramebufferSize(int& width, int& height) const;
  void ToggleFullscreen();
  bool Fullscreen() const { return fullscreen; }
  void SwapBuffers();

 private:
  PlayerWindow() = default;
  static void OnKey(GLFWwindow* window, int key, int scancode, int action, int mods);

  GLFWwindow* window = nullptr;
  WindowOptions options;
  bool fullscreen = false;
  int windowedX = 0, windowedY = 0, windowedWidth = 0, windowedHeight = 0;
  std::vector<PlayerAction> actions;
};

// The monitors GLFW sees, "index: name (WxH)", for --list-monitors; empty
// with a reason when there is no display.
bool ListMonitors(std::vector<std::string>& monitors, std::string& error);

// The keys, for --help, the panel and the README.
const char* KeyHelp();

}  // namespace cli
