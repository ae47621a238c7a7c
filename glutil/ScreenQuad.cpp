#include "ScreenQuad.h"

#include <cstdint>

#include "ScopedBindings.h"

namespace ffglex {
namespace {

constexpr GLsizei kVertexCount = 6;
constexpr GLsizei kFloatsPerVertex = 5;
constexpr GLsizei kStride = kFloatsPerVertex * sizeof(float);
constexpr uintptr_t kTexCoordOffset = 0;
constexpr uintptr_t kPositionOffset = 2 * sizeof(float);
constexpr GLuint kPositionLocation = 0;
constexpr GLuint kTexCoordLocation = 1;

// u, v, x, y, z: the upper-left triangle, then the lower-right one.
const float kVertices[kVertexCount * kFloatsPerVertex] = {
    0.0f, 1.0f, -1.0f, 1.0f,  0.0f,  //
    1.0f, 1.0f, 1.0f,  1.0f,  0.0f,  //
    0.0f, 0.0f, -1.0f, -1.0f, 0.0f,  //
    0.0f, 0.0f, -1.0f, -1.0f, 0.0f,  //
    1.0f, 1.0f, 1.0f,  1.0f,  0.0f,  //
    1.0f, 0.0f, 1.0f,  -1.0f, 0.0f,  //
};

}  // namespace

bool ScreenQuad::Initialise() {
  glGenVertexArrays(1, &vertexArray);
  glGenBuffers(1, &vertexBuffer);
  if (vertexArray == 0 || vertexBuffer == 0) {
    Release();
    return false;
  }

  ScopedVAOBinding vertexArrayBinding(vertexArray);
  ScopedVBOBinding bufferBinding(vertexBuffer);
  glBufferData(GL_ARRAY_BUFFER, sizeof kVertices, kVertices, GL_STATIC_DRAW);
  glEnableVertexAttribArray(kPositionLocation);
  glVertexAttribPointer(kPositionLocation, 3, GL_FLOAT, GL_FALSE, kStride,
                        reinterpret_cast<const void*>(kPositionOffset));
  glEnableVertexAttribArray(kTexCoordLocation);
  glVertexAttribPointer(kTexCoordLocation, 2, GL_FLOAT, GL_FALSE, kStride,
                        reinterpret_cast<const void*>(kTexCoordOffset));
  return true;
}

void ScreenQuad::Draw() const {
  if (vertexArray == 0 || vertexBuffer == 0) return;
  ScopedVAOBinding vertexArrayBinding(vertexArray);
  glDrawArrays(GL_TRIANGLES, 0, kVertexCount);
}

void ScreenQuad::Release() {
  // Deleting name 0 is a no-op in GL, so no test first.
  glDeleteBuffers(1, &vertexBuffer);
  vertexBuffer = 0;
  glDeleteVertexArrays(1, &vertexArray);
  vertexArray = 0;
}

}  // namespace ffglex
