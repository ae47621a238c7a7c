#include "render/FrameLoop.h"

#include <GL/glew.h>

namespace tool {

FrameLoop::~FrameLoop() = default;

bool FrameLoop::Start(const HostSession& session, int width, int height, double framesPerSecond,
                      std::string& error) {
  if (!target.Create(width, height, hostkit::PixelFormat::Rgba8, error) ||
      !scratch.Create(1, 1, hostkit::PixelFormat::Rgba8, error))
    return false;
  instance = session.CreateInstance(width, height, error);
  if (!instance) return false;
  driver = std::make_unique<FrameDriver>(*instance, framesPerSecond);
  return true;
}

bool FrameLoop::Resize(int width, int height, std::string& error) {
  if (width == target.Width() && height == target.Height()) return true;
  target.Release();
  if (!target.Create(width, height, hostkit::PixelFormat::Rgba8, error)) return false;
  instance->Resize({0, 0, static_cast<uint32_t>(width), static_cast<uint32_t>(height)});
  return true;
}

bool FrameLoop::Advance(long frame, const std::vector<ParameterValue>& values) {
  glBindFramebuffer(GL_FRAMEBUFFER, scratch.FrameBuffer());
  glViewport(0, 0, 1, 1);
  return driver->Process(frame, values);
}

bool FrameLoop::Draw(long frame, const std::vector<ParameterValue>& values) {
  target.Bind();
  return driver->Process(frame, values);
}

bool FrameLoop::DrawInto(const hostkit::FrameTarget& other, int x, int y, int width, int height, long frame,
                         const std::vector<ParameterValue>& values) {
  glBindFramebuffer(GL_FRAMEBUFFER, other.FrameBuffer());
  glViewport(x, y, width, height);
  return driver->Process(frame, values);
}

}  // namespace tool
