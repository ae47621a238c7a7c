#include "render/Upscaler.h"

#include <GL/glew.h>

#include "sys/NameTable.h"

namespace tool {

// The shader, built in from render/upscale.frag.glsl.
extern const char* const kUpscaleShader;

namespace {

constexpr Named<UpscaleFilter> kNames[] = {{UpscaleFilter::Bilinear, "bilinear"},
                                           {UpscaleFilter::CatmullRom, "catmull-rom"},
                                           {UpscaleFilter::Lanczos2, "lanczos-2"},
                                           {UpscaleFilter::Sharpened, "bilinear+cas"}};

}  // namespace

const char* UpscaleFilterName(UpscaleFilter filter) { return NameOf(kNames, filter); }

bool Upscaler::Create(std::string& error) {
  for (UpscaleFilter filter : kUpscaleFilters) {
    const std::string source =
        "#version 410 core\n#define FILTER " + std::to_string(static_cast<int>(filter)) + "\n" + kUpscaleShader;
    if (!programs[static_cast<int>(filter)].Create(source.c_str(), std::string("upscale ") + UpscaleFilterName(filter),
                                                   error))
      return false;
  }
  return true;
}

void Upscaler::Draw(const hostkit::FrameTarget& picture, const hostkit::FrameTarget& out, UpscaleFilter filter) {
  out.Bind();
  GLint previousUnit = 0, previousTexture = 0;
  glGetIntegerv(GL_ACTIVE_TEXTURE, &previousUnit);
  glActiveTexture(GL_TEXTURE0);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &previousTexture);
  glBindTexture(GL_TEXTURE_2D, picture.ColorTexture());
  GLint previousMin = 0, previousMag = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &previousMin);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &previousMag);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  ScreenProgram& program = programs[static_cast<int>(filter)];
  program.Draw([&] {
    const unsigned id = program.Program();
    glUniform1i(glGetUniformLocation(id, "picture"), 0);
    glUniform2f(glGetUniformLocation(id, "pictureSize"), static_cast<float>(picture.Width()),
                static_cast<float>(picture.Height()));
  });
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, previousMin);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, previousMag);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previousTexture));
  glActiveTexture(static_cast<GLenum>(previousUnit));
}

}  // namespace tool
