// The windows of `tessarvander play` on stage: GLFW, an OpenGL 4.1 core
// context current on the calling thread with the GL entry points loaded, the
// keys a performer presses (as the key table maps them), windowed or full
// screen. The output window shares the first context's objects, so the
// picture is drawn once and shown in both.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "player/KeyArrivals.h"
#include "player/Window.h"

struct GLFWwindow;

namespace tool {

struct WindowOptions {
  int width = 1280;
  int height = 720;
  bool vsync = true;
  bool fullscreen = false;
  std::string monitor;  // index or name; empty: the primary one
  std::string outputMonitor;  // for the output window; empty: none at the start
};

class GlfwWindow : public Window {
 public:
  // Null with one line in `error` when there is no display or no GL 4.1.
  static std::unique_ptr<GlfwWindow> Open(const WindowOptions& options, std::string& error);
  ~GlfwWindow() override;
  GlfwWindow(const GlfwWindow&) = delete;
  GlfwWindow& operator=(const GlfwWindow&) = delete;

  bool ShouldClose() const override;
  void PollEvents() override;
  std::vector<PlayerRequest> TakeRequests() override;
  unsigned FrameBuffer() const override { return 0; }
  void FramebufferSize(int& width, int& height) const override;
  void SwapBuffers() override;
  void ToggleFullscreen() override;
  bool Fullscreen() const override { return fullscreen; }
  void SetTitle(const std::string& title) override;
  bool OpenOutput(const std::string& monitor, std::string& error) override;
  void CloseOutput() override;
  bool HasOutput() const override { return output != nullptr; }
  void OutputSize(int& width, int& height) const override;
  void ShowOnOutput(unsigned texture, int width, int height) override;
  void StartPanel() override;
  void NewPanelFrame() override;
  void StopPanel() override;

 private:
  GlfwWindow() = default;
  static void OnKey(GLFWwindow* window, int key, int scancode, int action, int mods);

  GLFWwindow* window = nullptr;
  GLFWwindow* output = nullptr;
  unsigned outputReadBuffer = 0;  // a frame buffer of the output's context
  WindowOptions options;
  bool fullscreen = false;
  int windowedX = 0, windowedY = 0, windowedWidth = 0, windowedHeight = 0;
  std::string title = "Tessarvander";
  std::vector<PlayerRequest> requests;
  KeyArrivals arrivals;  // when the keys went down, for taps and nudges
};

// The monitors GLFW sees, "index: name (WxH)", for --list-monitors; empty
// with a reason when there is no display.
bool ListMonitors(std::vector<std::string>& monitors, std::string& error);

}  // namespace tool
