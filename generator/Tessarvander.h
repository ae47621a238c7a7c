// Tessarvander: an endless flight through layered fractal space.
//
// The host reaches an instance only through the CFFGLPlugin operations it
// overrides here. Parameter values are stored as the host writes them (on the
// 0..1 scale, unclamped); the render pass turns them into uniforms each frame.
#pragma once

#include <cstdint>

#include "FFGLPlugin.h"
#include "ParameterTable.h"
#include "ScreenQuad.h"
#include "ShaderProgram.h"

class Tessarvander : public CFFGLPlugin {
 public:
  // Registers the nineteen parameters and gives each member its default.
  // Makes no GL call.
  Tessarvander();
  // Deletes no GL object: the host's DeinitialiseGL has done that.
  ~Tessarvander() override;

  // GL. Builds the shader program and the screen quad; restarts the clock.
  FFResult InitialiseGL(const ViewportRecord* viewport) override;
  // GL. Deletes every GL object of the instance; safe to repeat.
  FFResult DeinitialiseGL() noexcept override;
  // GL. Eases, advances the travel clock, sets the uniforms and draws.
  FFResult ProcessFrame(const ProcessRecord* record) noexcept override;
  // Puts every eased value at its target at once, as a hundred frames of
  // easing would: for a picture of settled parameters without the frames.
  void SettleEasing() noexcept;

  // Stores the value of parameter 0..18 as given. Fails for any other index,
  // and for a value that is not finite, which keeps the previous value: one
  // NaN would otherwise poison the eased values and the clock for good.
  FFResult SetFloatParameter(uint32_t index, float value) noexcept override;
  // The stored value of parameter 0..18; 0.0 for any other index.
  float GetFloatParameter(uint32_t index) noexcept override;

  // ---- Render pass state ----------------------------------------------------
  // The stage sources InitialiseGL builds from: the embedded ones, unless a
  // test substitutes its own before InitialiseGL.
  const char* vertexSource;
  const char* fragmentSource;
  // The stage that fills the per-layer table once a frame; null for
  // substituted sources that read no table.
  const char* layerSource;
  // One program per fractal kernel, built in InitialiseGL from the same
  // sources with KERNEL defined to the kernel's number, so that each draws
  // only its own kernel: a renderer that runs every branch of a uniform
  // condition then pays for one kernel, not four. A frame draws with the
  // program of the current Fractal Type, and never compiles anything.
  static constexpr int kKernelCount =
      tessarvander::kParameterRows[tessarvander::param::FractalType].bands.count;
  ffglex::ShaderProgram kernelPrograms[kKernelCount];
  // False: one program that draws every kernel, in slot 0 (for comparisons,
  // and for substituted sources that know no KERNEL). Read by InitialiseGL.
  bool specialiseKernels = true;
  // The program that draws the current Fractal Type.
  const ffglex::ShaderProgram& CurrentProgram() const noexcept;
  ffglex::ScreenQuad screenQuad;
  // The per-layer table: what is the same for all pixels of a layer, filled
  // once a frame by the table's program (its vertex stage captured by
  // transform feedback into the buffer) and read by the drawing programs as
  // the uniform block LayerTable, at binding point `tableBinding`.
  ffglex::ShaderProgram tableProgram;
  GLuint tableBuffer = 0;
  GLuint tableFeedback = 0;
  GLuint tableVertexArray = 0;
  GLuint tableBinding = 0;
  // Fills the table for the frame about to be drawn.
  void FillLayerTable() noexcept;
  void DrawQuadReadingTheTable() noexcept;
  void DrawEveryProgram() noexcept;
  bool glInitialised = false;
  // The travel position: one sixtieth of the eased travel rate per frame,
  // never wrapped.
  float travelClock = 0.0f;

  // ---- Parameter values, as the host wrote them, and the eased ones ---------
  // One member per row of Parameters.def: paramSpeed, paramDirection, ...;
  // and easedSpeed, easedDirection, ... for the rows that ease. An eased
  // value starts at its parameter's default and follows the scaled value by
  // 5 % of the distance per frame.
#define TESSARVANDER_EASED_MEMBER_EASED(Stem, defaultValue) float eased##Stem = defaultValue;
#define TESSARVANDER_EASED_MEMBER_HELD(Stem, defaultValue)
#define TESSARVANDER_PARAMETER(index, Stem, name, defaultValue, uniform, scaling, easing, bands, units) \
  float param##Stem = defaultValue;                                                                     \
  TESSARVANDER_EASED_MEMBER_##easing(Stem, defaultValue)
#include "Parameters.def"
#undef TESSARVANDER_PARAMETER
#undef TESSARVANDER_EASED_MEMBER_EASED
#undef TESSARVANDER_EASED_MEMBER_HELD

  // The member holding parameter `index`'s value, or null past the last.
  float* ParameterMember(uint32_t index) noexcept;
  // The member holding its eased value, or null when it does not ease.
  float* EasedMember(uint32_t index) noexcept;
};

// The plugin's factory: a new Tessarvander through the out-pointer.
FFResult CreateInstance(CFFGLPlugin** instance);
