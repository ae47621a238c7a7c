// A window without a display, for the player's tests: it shows into an
// offscreen frame buffer in the current GL context, takes keys the test
// presses, and has an output window of any size the test asks for. What the
// audience would see is read back from it.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "hostkit/FrameTarget.h"
#include "player/Window.h"

namespace tool {

class HeadlessWindow : public Window {
 public:
  // A window of width x height in the current context. False with one line.
  bool Create(int width, int height, std::string& error);

  // A key pressed (GLFW key code and modifiers) or released, taken at the
  // next poll; `at` the time it went down, of the player's clock (below 0:
  // when the player takes it).
  void Press(int key, int mods = 0, double at = -1.0);
  void Release(int key, double at = -1.0);
  // The window's close box.
  void Close() { closing = true; }
  // The output monitor's size, for OpenOutput.
  void SetOutputMonitor(int width, int height) { monitorWidth = width, monitorHeight = height; }

  // What the window and the output window showed at their last swap.
  std::vector<uint8_t> WindowPixels() const { return window.ReadRgba8(); }
  std::vector<uint8_t> OutputPixels() const { return output.ReadRgba8(); }
  const std::string& Title() const { return title; }
  int Swaps() const { return swaps; }

  bool ShouldClose() const override { return closing; }
  void PollEvents() override {}
  std::vector<PlayerRequest> TakeRequests() override;
  unsigned FrameBuffer() const override { return window.FrameBuffer(); }
  void FramebufferSize(int& width, int& height) const override;
  void SwapBuffers() override { ++swaps; }
  void ToggleFullscreen() override { fullscreen = !fullscreen; }
  bool Fullscreen() const override { return fullscreen; }
  void SetTitle(const std::string& text) override { title = text; }
  bool OpenOutput(const std::string& monitor, std::string& error) override;
  void CloseOutput() override { output.Release(); }
  bool HasOutput() const override { return output.Width() > 0; }
  void OutputSize(int& width, int& height) const override;
  void ShowOnOutput(unsigned texture, int width, int height) override;
  // The panel is drawn at the window's size and takes no input.
  void StartPanel() override {}
  void NewPanelFrame() override;
  void StopPanel() override {}

 private:
  hostkit::FrameTarget window;
  hostkit::FrameTarget output;
  std::deque<PlayerRequest> pressed;
  int monitorWidth = 0, monitorHeight = 0;
  bool fullscreen = false;
  bool closing = false;
  int swaps = 0;
  std::string title;
};

}  // namespace tool
