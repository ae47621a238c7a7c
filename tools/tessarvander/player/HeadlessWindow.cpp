#include "player/HeadlessWindow.h"

#include <GL/glew.h>
#include <imgui.h>

#include "player/Keys.h"

namespace tool {

bool HeadlessWindow::Create(int width, int height, std::string& error) {
  return window.Create(width, height, hostkit::PixelFormat::Rgba8, error);
}

void HeadlessWindow::Press(int key, int mods, double at) {
  if (std::optional<PlayerRequest> request = RequestForKey(key, mods)) {
    request->at = at;
    pressed.push_back(*request);
  }
}

void HeadlessWindow::Release(int key, double at) {
  if (std::optional<PlayerRequest> request = RequestForKey(key, 0, false)) {
    request->at = at;
    pressed.push_back(*request);
  }
}

std::vector<PlayerRequest> HeadlessWindow::TakeRequests() {
  std::vector<PlayerRequest> taken(pressed.begin(), pressed.end());
  pressed.clear();
  return taken;
}

void HeadlessWindow::NewPanelFrame() {
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = ImVec2(static_cast<float>(window.Width()), static_cast<float>(window.Height()));
  io.DeltaTime = 1.0f / 60.0f;
}

void HeadlessWindow::FramebufferSize(int& width, int& height) const {
  width = window.Width();
  height = window.Height();
}

bool HeadlessWindow::OpenOutput(const std::string& monitor, std::string& error) {
  if (HasOutput()) return true;
  if (monitorWidth <= 0 || monitorHeight <= 0) {
    error = "--output-monitor: no monitor \"" + monitor + "\" (see --list-monitors)";
    return false;
  }
  return output.Create(monitorWidth, monitorHeight, hostkit::PixelFormat::Rgba8, error);
}

void HeadlessWindow::OutputSize(int& width, int& height) const {
  width = output.Width();
  height = output.Height();
}

void HeadlessWindow::ShowOnOutput(unsigned texture, int width, int height) {
  if (!HasOutput()) return;
  GLuint read = 0;
  glGenFramebuffers(1, &read);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, read);
  glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, output.FrameBuffer());
  glViewport(0, 0, output.Width(), output.Height());
  glBlitFramebuffer(0, 0, width, height, 0, 0, output.Width(), output.Height(), GL_COLOR_BUFFER_BIT, GL_LINEAR);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDeleteFramebuffers(1, &read);
}

}  // namespace tool
