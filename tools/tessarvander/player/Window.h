// Where the player shows the picture and gets keys from: a real window
// (GlfwWindow) on stage, a headless one (HeadlessWindow) in the tests. The
// window's GL context is current on the player's thread; the picture and the
// panel are drawn into FrameBuffer(). An output window may show the picture
// alone, full screen on another monitor (the projector).
#pragma once

#include <string>
#include <vector>

#include "formats/Actions.h"

namespace tool {

class Window {
 public:
  virtual ~Window() = default;

  virtual bool ShouldClose() const = 0;
  // Handles the window system's events; key presses become requests.
  virtual void PollEvents() = 0;
  // The requests of the keys pressed since the last call, in order.
  virtual std::vector<PlayerRequest> TakeRequests() = 0;

  // The frame buffer the window shows, and its size in pixels.
  virtual unsigned FrameBuffer() const = 0;
  virtual void FramebufferSize(int& width, int& height) const = 0;
  // Shows what was drawn into FrameBuffer().
  virtual void SwapBuffers() = 0;
  virtual void ToggleFullscreen() = 0;
  virtual bool Fullscreen() const = 0;
  // The window's title: where the performer reads what the player says
  // when the panel is hidden.
  virtual void SetTitle(const std::string& title) = 0;

  // The output window: full screen on `monitor` (index or name). False with
  // one line when there is no such monitor.
  virtual bool OpenOutput(const std::string& monitor, std::string& error) = 0;
  virtual void CloseOutput() = 0;
  virtual bool HasOutput() const = 0;
  virtual void OutputSize(int& width, int& height) const = 0;
  // Draws the texture (width x height) over the whole output window.
  virtual void ShowOnOutput(unsigned texture, int width, int height) = 0;

  // The panel's platform side in Dear ImGui: the window gives it the
  // display's size and, where there is one, the mouse and the keyboard.
  // Started after ImGui's context is made, stopped before it goes.
  virtual void StartPanel() = 0;
  virtual void NewPanelFrame() = 0;
  virtual void StopPanel() = 0;
};

}  // namespace tool
