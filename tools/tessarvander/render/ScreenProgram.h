// A small GL program that covers the viewport with one triangle, for the
// passes the tool draws over or between the plugin's pictures (the blackout,
// the blend of two decks). The GL state it touches is put back.
#pragma once

#include <string>

namespace tool {

class ScreenProgram {
 public:
  ScreenProgram() = default;
  ~ScreenProgram();
  ScreenProgram(const ScreenProgram&) = delete;
  ScreenProgram& operator=(const ScreenProgram&) = delete;

  // Compiles `fragment` (GLSL 4.10, its input `uv` 0..1 over the viewport).
  // False with "WHAT: " and the driver's log.
  bool Create(const char* fragment, const std::string& what, std::string& error);
  unsigned Program() const { return program; }
  // Draws the triangle with the program; `setUp` has it current to set its
  // uniforms first.
  template <class SetUp>
  void Draw(SetUp setUp) {
    Begin();
    setUp();
    End();
  }

 private:
  void Begin();
  void End();

  unsigned program = 0;
  unsigned vertexArray = 0;
  int previousProgram = 0, previousVertexArray = 0;
};

}  // namespace tool
