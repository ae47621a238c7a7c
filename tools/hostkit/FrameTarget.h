// An offscreen frame buffer with one colour attachment: the host's output
// that the plugin draws into. 8-bit RGBA for video and stills, 32-bit float
// RGBA for tests that compare exact values.
#pragma once

#include <GL/glew.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hostkit {

enum class PixelFormat { Rgba8, Rgba32F };

class FrameTarget {
 public:
  FrameTarget() = default;
  ~FrameTarget() { Release(); }
  FrameTarget(const FrameTarget&) = delete;
  FrameTarget& operator=(const FrameTarget&) = delete;

  // Needs a current context. False with a reason when the size is beyond what
  // the context allows or the frame buffer is incomplete.
  bool Create(int width, int height, PixelFormat format, std::string& error);
  void Release();

  // Binds the frame buffer and sets the viewport to cover it.
  void Bind() const;

  // Reads the whole picture, bottom row first.
  std::vector<uint8_t> ReadRgba8() const;
  std::vector<float> ReadRgba32F() const;

  int Width() const { return width; }
  int Height() const { return height; }
  GLuint FrameBuffer() const { return frameBuffer; }
  GLuint ColorTexture() const { return colorTexture; }

 private:
  template <class Channel>
  std::vector<Channel> Read(GLenum type) const;

  GLuint frameBuffer = 0;
  GLuint colorTexture = 0;
  int width = 0;
  int height = 0;
  PixelFormat format = PixelFormat::Rgba8;
};

// The largest width and height the current context can render to.
void MaximumTargetSize(int& width, int& height);

}  // namespace hostkit
