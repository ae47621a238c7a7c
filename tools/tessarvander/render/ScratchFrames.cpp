#include "render/ScratchFrames.h"

#include <GL/glew.h>

namespace cli {

void PrepareScratchFrame(hostkit::FrameTarget& scratch) {
  glBindFramebuffer(GL_FRAMEBUFFER, scratch.FrameBuffer());
  glViewport(0, 0, 1, 1);
}

}  // namespace cli
