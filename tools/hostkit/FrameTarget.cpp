#include "hostkit/FrameTarget.h"

#include <algorithm>

namespace hostkit {

void MaximumTargetSize(int& width, int& height) {
  GLint textureSize = 0, renderbufferSize = 0;
  GLint viewport[2] = {0, 0};
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &textureSize);
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbufferSize);
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
  const int limit = std::min(textureSize, renderbufferSize);
  width = std::min(limit, static_cast<int>(viewport[0]));
  height = std::min(limit, static_cast<int>(viewport[1]));
}

bool FrameTarget::Create(int requestedWidth, int requestedHeight, PixelFormat requestedFormat, std::string& error) {
  Release();
  int maxWidth = 0, maxHeight = 0;
  MaximumTargetSize(maxWidth, maxHeight);
  if (requestedWidth < 1 || requestedHeight < 1 || requestedWidth > maxWidth || requestedHeight > maxHeight) {
    error = "GL: a frame of " + std::to_string(requestedWidth) + "x" + std::to_string(requestedHeight) +
            " is outside what this GL allows (1x1 to " + std::to_string(maxWidth) + "x" +
            std::to_string(maxHeight) + ")";
    return false;
  }
  while (glGetError() != GL_NO_ERROR) {
  }
  width = requestedWidth;
  height = requestedHeight;
  format = requestedFormat;

  glGenTextures(1, &colorTexture);
  glBindTexture(GL_TEXTURE_2D, colorTexture);
  const bool isFloat = format == PixelFormat::Rgba32F;
  glTexImage2D(GL_TEXTURE_2D, 0, isFloat ? GL_RGBA32F : GL_RGBA8, width, height, 0, GL_RGBA,
               isFloat ? GL_FLOAT : GL_UNSIGNED_BYTE, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glBindTexture(GL_TEXTURE_2D, 0);

  glGenFramebuffers(1, &frameBuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colorTexture, 0);
  const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  if (status != GL_FRAMEBUFFER_COMPLETE || glGetError() != GL_NO_ERROR) {
    Release();
    error = "GL: cannot make a " + std::to_string(requestedWidth) + "x" + std::to_string(requestedHeight) +
            " frame buffer (out of memory?)";
    return false;
  }
  return true;
}

void FrameTarget::Release() {
  if (frameBuffer) glDeleteFramebuffers(1, &frameBuffer);
  if (colorTexture) glDeleteTextures(1, &colorTexture);
  frameBuffer = 0;
  colorTexture = 0;
}

void FrameTarget::Bind() const {
  glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
  glViewport(0, 0, width, height);
}

template <class Channel>
std::vector<Channel> FrameTarget::Read(GLenum type) const {
  std::vector<Channel> pixels(static_cast<size_t>(width) * height * 4);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, frameBuffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGBA, type, pixels.data());
  return pixels;
}

std::vector<uint8_t> FrameTarget::ReadRgba8() const { return Read<uint8_t>(GL_UNSIGNED_BYTE); }

std::vector<float> FrameTarget::ReadRgba32F() const { return Read<float>(GL_FLOAT); }

}  // namespace hostkit
