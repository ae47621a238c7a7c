// An independent CPU model of the fragment stage's formulas, in single
// precision like the GPU, for checking pictures pixel by pixel.
#pragma once

#include <functional>
#include <vector>

namespace model {

struct Uniforms {
  float time = 0.0f;
  float zoom = 3.0f;
  float speed = 1.0f;
  float complexity = 0.5f;
  float branches = 0.5f;
  float thickness = 0.3f;
  float glowAmount = 0.5f;
  float colorMode = 0.1f;
  float manualHue = 0.6f;
  float saturation = 0.8f;
  float brightness = 1.0f;
  float rotation = 0.0f;
  float centerX = 0.5f;
  float centerY = 0.5f;
  float crystalType = 0.5f;
  float pulseAmount = 0.0f;
  float pulseSpeed = 2.5f;
  float travelDirection = 1.0f;
  float depthLayers = 0.5f;
  float mirrorMode = 0.0f;
  float width = 64.0f;
  float height = 48.0f;
};

struct Color {
  float r, g, b;
};

struct Vec2 {
  float x, y;
};

// The sine that the layer seeds are made from. fract(sin(n) * 43758.5)
// turns a last-bit difference in sin into a seed a few thousandths off, so a
// comparison with a GPU passes in the GPU's own sine values; everything else
// is computed here.
using Sine = std::function<float(float)>;

// The colour of the pixel whose centre is at (fragX, fragY) in pixels from
// the viewport's lower-left corner.
Color Pixel(const Uniforms& u, float fragX, float fragY, const Sine& seedSine = nullptr);

// The arguments of every layer's seed hash in a picture with these uniforms:
// they are the same for all its pixels.
std::vector<float> SeedArguments(const Uniforms& u);

// The pieces, for tests of their own.
float Hash(float n, const Sine& sine = nullptr);
Color HsvToRgb(float h, float s, float v);
Vec2 Rotate(float angle, Vec2 p);
Vec2 ApplyMirror(Vec2 p, float mode);
float Ferrofluid(Vec2 p, float seed, float t, float numSpikes);
float Julia(Vec2 p, float seed, float t, float detail);
float Kaleido(Vec2 p, float seed, float t, float numBranches, float detail);
float Mandelbrot(Vec2 p, float seed, float detail);
Color Palette(int index, float phase, float seed, Vec2 layerP, float hue, float saturation);

}  // namespace model
