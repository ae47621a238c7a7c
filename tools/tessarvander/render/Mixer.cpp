#include "render/Mixer.h"

#include <GL/glew.h>

namespace tool {
namespace {

// The three blends, in the order of Blend.
const char* kBlend = R"(#version 410 core
in vec2 uv;
out vec4 colour;
uniform sampler2D first;
uniform sampler2D second;
uniform float mixAmount;
uniform int blendKind;

const int kDissolve = 0;
const int kAdd = 1;
// The luma key's softness: the width of the edge between the pictures.
const float kKeySoftness = 0.1;

float luma(vec3 rgb) { return dot(rgb, vec3(0.2126, 0.7152, 0.0722)); }

vec3 dissolve(vec3 a, vec3 b, float m) { return mix(a, b, m); }

vec3 additive(vec3 a, vec3 b, float m) { return min(a * min(1.0, 2.0 - 2.0 * m) + b * min(1.0, 2.0 * m), vec3(1.0)); }

// The key's threshold falls from above white to below black as m rises.
vec3 lumaKeyed(vec3 a, vec3 b, float m) {
  float threshold = (1.0 + 2.0 * kKeySoftness) * (1.0 - m) - kKeySoftness;
  float key = smoothstep(threshold - kKeySoftness, threshold + kKeySoftness, luma(b));
  return mix(a, b, key);
}

void main() {
  // Pixel for pixel: both pictures have the output's size.
  ivec2 pixel = ivec2(gl_FragCoord.xy);
  vec3 a = texelFetch(first, pixel, 0).rgb;
  vec3 b = texelFetch(second, pixel, 0).rgb;
  vec3 blended = blendKind == kDissolve ? dissolve(a, b, mixAmount)
               : blendKind == kAdd      ? additive(a, b, mixAmount)
                                        : lumaKeyed(a, b, mixAmount);
  colour = vec4(blended, 1.0);
})";

}  // namespace

bool Mixer::Create(std::string& error) { return program.Create(kBlend, "crossfade", error); }

void Mixer::Blend(const hostkit::FrameTarget& first, const hostkit::FrameTarget& second, float mix, tool::Blend blend,
                  const hostkit::FrameTarget& out) {
  out.Bind();
  GLint previousUnit = 0, previousTexture[2] = {0, 0};
  glGetIntegerv(GL_ACTIVE_TEXTURE, &previousUnit);
  for (int unit = 0; unit < 2; ++unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previousTexture[unit]);
    glBindTexture(GL_TEXTURE_2D, unit == 0 ? first.ColorTexture() : second.ColorTexture());
  }
  program.Draw([&] {
    const unsigned id = program.Program();
    glUniform1i(glGetUniformLocation(id, "first"), 0);
    glUniform1i(glGetUniformLocation(id, "second"), 1);
    glUniform1f(glGetUniformLocation(id, "mixAmount"), mix);
    glUniform1i(glGetUniformLocation(id, "blendKind"), static_cast<int>(blend));
  });
  for (int unit = 1; unit >= 0; --unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previousTexture[unit]));
  }
  glActiveTexture(static_cast<GLenum>(previousUnit));
}

}  // namespace tool
