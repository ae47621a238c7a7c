#include "render/Dimmer.h"

#include <GL/glew.h>

namespace tool {
namespace {

const char* kBlack = R"(#version 410 core
in vec2 uv;
out vec4 colour;
void main() { colour = vec4(0.0, 0.0, 0.0, 1.0); })";

}  // namespace

bool Dimmer::Create(std::string& error) { return black.Create(kBlack, "blackout", error); }

void Dimmer::Apply(const hostkit::FrameTarget& picture, float level) {
  picture.Bind();
  const GLboolean blending = glIsEnabled(GL_BLEND);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ZERO, GL_CONSTANT_COLOR);  // picture x level; alpha kept
  glBlendColor(level, level, level, 1.0f);
  black.Draw([] {});
  if (!blending) glDisable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ZERO);
}

}  // namespace tool
