// ScreenQuad: two triangles covering clip space, as a vertex array and a vertex
// buffer in the current GL context. Each vertex is u, v, x, y, z; attribute 0
// reads the position (x, y, z) and attribute 1 the texture coordinate (u, v),
// which runs from (0, 0) at the lower-left to (1, 1) at the upper-right.
//
// All calls need the owning GL context current. Destroying a quad deletes
// nothing: Release must run in that context first.
#pragma once

#include <GL/glew.h>

namespace ffglex {

class ScreenQuad {
 public:
  // Creates the objects on a quad whose names are 0. False, with both names 0,
  // when GL hands out no name.
  bool Initialise();
  // Draws six vertices with whatever program is current; nothing when either
  // name is 0. Leaves vertex array 0 bound and touches no other state.
  void Draw() const;
  // Deletes both objects and zeroes the names; safe to repeat.
  void Release();

  GLuint vertexArray = 0;
  GLuint vertexBuffer = 0;
};

}  // namespace ffglex
