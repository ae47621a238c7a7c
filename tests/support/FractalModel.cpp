// Written from the formulas of the picture, step by step, not from the shader
// text: a mistake in either shows up as a difference.
#include "FractalModel.h"

#include <algorithm>
#include <cmath>

namespace model {
namespace {

constexpr float kPi = 3.14159265358979323846f;
constexpr float kTau = 6.28318530717958647692f;
constexpr float kNoDistance = 1e10f;

float Fract(float x) { return x - std::floor(x); }
float Mod(float x, float y) { return x - y * std::floor(x / y); }
float Clamp(float x, float lo, float hi) { return std::min(std::max(x, lo), hi); }
float Mix(float a, float b, float t) { return a * (1.0f - t) + b * t; }
Color Mix(Color a, Color b, float t) { return {Mix(a.r, b.r, t), Mix(a.g, b.g, t), Mix(a.b, b.b, t)}; }
float Smoothstep(float e0, float e1, float x) {
  float t = Clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
  return t * t * (3.0f - 2.0f * t);
}
float Length(Vec2 p) { return std::sqrt(p.x * p.x + p.y * p.y); }
float Dot(Vec2 p) { return p.x * p.x + p.y * p.y; }
float Angle(Vec2 p) { return (p.x == 0.0f && p.y == 0.0f) ? 0.0f : std::atan2(p.y, p.x); }
Vec2 Scale(Vec2 p, float s) { return {p.x * s, p.y * s}; }
Vec2 ComplexMultiply(Vec2 a, Vec2 b) { return {a.x * b.x - a.y * b.y, a.x * b.y + a.y * b.x}; }

}  // namespace

float Hash(float n, const Sine& sine) { return Fract((sine ? sine(n) : std::sin(n)) * 43758.5453123f); }

namespace {
int NumLayers(const Uniforms& u) { return static_cast<int>(u.depthLayers * 6.0f) + 3; }
// The loop stops at 12 layers whatever depthLayers asks for.
int LayerCount(const Uniforms& u) { return std::min(12, NumLayers(u)); }
float TravelTime(const Uniforms& u) { return u.time * u.speed * u.travelDirection; }
float SeedArgument(const Uniforms& u, int layer) {
  const float layerPhase = static_cast<float>(layer) / static_cast<float>(NumLayers(u));
  const float cycleSeed = std::floor(TravelTime(u) * 0.5f + layerPhase);
  return cycleSeed * 17.31f + static_cast<float>(layer) * 7.13f;
}
}  // namespace

std::vector<float> SeedArguments(const Uniforms& u) {
  std::vector<float> arguments;
  for (int layer = 0; layer < LayerCount(u); ++layer) arguments.push_back(SeedArgument(u, layer));
  return arguments;
}

Color HsvToRgb(float h, float s, float v) {
  auto channel = [&](float offset) {
    float q = std::fabs(Fract(h + offset) * 6.0f - 3.0f);
    return v * ((1.0f - s) + s * Clamp(q - 1.0f, 0.0f, 1.0f));
  };
  return {channel(1.0f), channel(2.0f / 3.0f), channel(1.0f / 3.0f)};
}

Vec2 Rotate(float a, Vec2 p) {
  float c = std::cos(a), s = std::sin(a);
  return {p.x * c + p.y * s, -p.x * s + p.y * c};
}

Vec2 ApplyMirror(Vec2 p, float mode) {
  int segments = static_cast<int>(mode);
  if (segments <= 0) return p;
  float segmentAngle = kTau / static_cast<float>(segments * 2);
  float angle = Angle(p);
  float r = Length(p);
  angle = std::fabs(Mod(angle + segmentAngle, segmentAngle * 2.0f) - segmentAngle);
  return {r * std::cos(angle), r * std::sin(angle)};
}

float Ferrofluid(Vec2 p, float seed, float t, float numSpikes) {
  p = Rotate(seed * 0.5f, p);
  p = {p.x + std::cos(seed * 3.7f) * 0.2f, p.y + std::sin(seed * 5.3f) * 0.2f};
  float d = kNoDistance;
  float r = Length(p);
  float angle = Angle(p);
  float centerMass = r - 0.2f - 0.05f * std::sin(t * 0.5f);

  for (int i = 0; i < 24 && static_cast<float>(i) < numSpikes; ++i) {
    float spikeAngle = kTau * static_cast<float>(i) / numSpikes + seed;
    float angleDiff = std::fabs(Mod(angle - spikeAngle + kPi, kTau) - kPi);
    float spikeLength = 0.3f + 0.15f * std::sin(t * 0.7f + static_cast<float>(i) * 0.5f + seed);
    float spikeWidth = 0.03f + 0.02f * (1.0f - r / spikeLength);
    if (angleDiff < 0.3f) {
      float along = r - 0.15f;
      float taper = std::max(0.0f, 1.0f - along / spikeLength);
      float spikeD = angleDiff * r - spikeWidth * taper;
      if (along > 0.0f && along < spikeLength) d = std::min(d, spikeD);
    }
  }
  for (int i = 0; i < 36 && static_cast<float>(i) < numSpikes * 1.5f; ++i) {
    float spikeAngle = kTau * (static_cast<float>(i) + 0.5f) / (numSpikes * 1.5f) + seed * 2.0f;
    float angleDiff = std::fabs(Mod(angle - spikeAngle + kPi, kTau) - kPi);
    float spikeLength = 0.15f + 0.08f * std::sin(t * 0.9f + static_cast<float>(i) * 0.7f);
    if (angleDiff < 0.2f) {
      float along = r - 0.18f;
      float taper = std::max(0.0f, 1.0f - along / spikeLength);
      float spikeD = angleDiff * r - 0.015f * taper;
      if (along > 0.0f && along < spikeLength) d = std::min(d, spikeD);
    }
  }
  d = std::min(d, centerMass);
  return d - 0.005f * std::sin(angle * numSpikes * 2.0f + t);
}

float Julia(Vec2 p, float seed, float t, float detail) {
  float cAngle = t * 0.1f + seed * kTau;
  float cRadius = 0.7885f + 0.1f * std::sin(t * 0.3f + seed);
  Vec2 c = {cRadius * std::cos(cAngle), cRadius * std::sin(cAngle)};
  Vec2 z = Scale(p, 1.5f);
  float iter = 0.0f;
  float minDist = kNoDistance;
  int maxIter = static_cast<int>(detail * 15.0f) + 20;
  for (int i = 0; i < 100 && i < maxIter; ++i) {
    z = ComplexMultiply(z, z);
    z = {z.x + c.x, z.y + c.y};
    minDist = std::min(minDist, Length(z));
    if (Dot(z) > 4.0f) {
      iter = static_cast<float>(i) - std::log2(std::log2(Dot(z))) + 4.0f;
      break;
    }
    iter = static_cast<float>(i);
  }
  // The base of the square root is kept in [0, 1]: the smooth count may pass
  // maxIter at the set's boundary.
  float d = std::sqrt(Clamp(1.0f - iter / static_cast<float>(std::max(maxIter, 1)), 0.0f, 1.0f));
  d = Mix(d, minDist * 0.5f, 0.3f);
  return d * 0.1f;
}

float Kaleido(Vec2 p, float seed, float t, float numBranches, float detail) {
  p = Rotate(seed, p);
  float d = kNoDistance;
  const float n = numBranches == 0.0f ? 1.0f : numBranches;
  for (int i = 0; i < 12 && static_cast<float>(i) < detail; ++i) {
    float angle = Mod(Angle(p) + kPi / n, kTau / n) - kPi / n;
    float r = Length(p);
    p = {r * std::cos(angle), r * std::fabs(std::sin(angle))};
    float s = 0.5f + 0.1f * std::sin(t * 0.3f + seed + static_cast<float>(i));
    p = {std::fabs(p.x) - s, std::fabs(p.y) - s};
    if (p.x < p.y) std::swap(p.x, p.y);
    p = Scale(p, 1.5f);
    p = Rotate(0.3f + 0.1f * std::sin(t * 0.2f + static_cast<float>(i)), p);
    float line = std::min(std::fabs(p.x), std::fabs(p.y)) / std::pow(1.5f, static_cast<float>(i + 1));
    d = std::min(d, line);
  }
  return d;
}

float Mandelbrot(Vec2 p, float seed, float detail) {
  Vec2 target = {-0.745f + std::cos(seed * 5.0f) * 0.02f, 0.186f + std::sin(seed * 7.0f) * 0.02f};
  float zoomLevel = 1.0f + seed * 0.5f;
  Vec2 c = {target.x + p.x / zoomLevel, target.y + p.y / zoomLevel};
  Vec2 z = {0.0f, 0.0f};
  float iter = 0.0f;
  int maxIter = static_cast<int>(detail * 20.0f) + 50;
  float minDist = kNoDistance;
  for (int i = 0; i < 200 && i < maxIter; ++i) {
    z = {z.x * z.x - z.y * z.y + c.x, 2.0f * z.x * z.y + c.y};
    minDist = std::min(minDist, Length({z.x, z.y - 1.0f}));
    if (Dot(z) > 256.0f) {
      iter = static_cast<float>(i) - std::log2(std::log2(Dot(z))) + 4.0f;
      break;
    }
    iter = static_cast<float>(i);
  }
  float d = iter / static_cast<float>(std::max(maxIter, 1));
  d = Mix(d, minDist * 0.3f, 0.4f);
  d = 1.0f - std::pow(d, 0.7f);
  return d * 0.08f;
}

Color Palette(int index, float phase, float seed, Vec2 layerP, float hue, float saturation) {
  switch (index) {
    case 0:
      return HsvToRgb(hue, saturation, 1.0f);
    case 1:
      return Mix(Color{0.1f, 0.3f, 0.9f}, Color{0.9f, 0.95f, 1.0f}, phase);
    case 2:
      return Mix(Color{0.9f, 0.1f, 0.0f}, Color{1.0f, 0.9f, 0.3f}, phase);
    case 3:
      return HsvToRgb(Fract(hue + (Angle(layerP) / kTau + 0.5f)), saturation, 1.0f);
    case 4:
      return HsvToRgb(Fract(hue + phase), saturation, 1.0f);
    case 5: {
      float t1 = std::sin(phase * kPi + seed * kTau) * 0.5f + 0.5f;
      float t2 = std::cos(phase * kPi * 2.0f) * 0.5f + 0.5f;
      return Mix(Mix(Color{0.3f, 0.0f, 0.5f}, Color{0.0f, 0.6f, 0.8f}, t1), Color{1.0f, 0.2f, 0.6f}, t2);
    }
    case 6: {
      float t1 = Smoothstep(0.0f, 0.5f, phase);
      float t2 = Smoothstep(0.5f, 1.0f, phase);
      return Mix(Mix(Color{0.3f, 0.2f, 0.1f}, Color{0.8f, 0.5f, 0.2f}, t1), Color{1.0f, 0.9f, 0.6f}, t2);
    }
    case 7:
      return Mix(Color{0.0f, 0.2f, 0.0f}, Color{0.3f, 1.0f, 0.3f}, phase);
    case 8:
      return Mix(Color{0.1f, 0.0f, 0.3f}, Mix(Color{1.0f, 0.0f, 0.5f}, Color{0.0f, 0.8f, 1.0f}, phase), phase);
    default:
      return {1.0f, 1.0f, 1.0f};
  }
}

Color Pixel(const Uniforms& u, float fragX, float fragY, const Sine& seedSine) {
  // Centre, offset, fold, turn, pulse.
  const float shortSide = std::min(u.width, u.height);
  Vec2 p = {(fragX - 0.5f * u.width) / shortSide, (fragY - 0.5f * u.height) / shortSide};
  p = {p.x - (u.centerX - 0.5f) * 2.0f, p.y - (u.centerY - 0.5f) * 2.0f};
  int mirrorSegments = 0;
  if (u.mirrorMode > 0.1f) mirrorSegments = 2;
  if (u.mirrorMode > 0.3f) mirrorSegments = 4;
  if (u.mirrorMode > 0.5f) mirrorSegments = 8;
  if (u.mirrorMode > 0.7f) mirrorSegments = 16;
  if (mirrorSegments > 0) p = ApplyMirror(p, static_cast<float>(mirrorSegments / 2));
  const float travelTime = TravelTime(u);
  p = Rotate(u.rotation * kTau + travelTime * 0.05f, p);
  p = Scale(p, 1.0f + u.pulseAmount * 0.3f * std::sin(u.time * u.pulseSpeed * kTau));

  const float numBranches = std::floor(u.branches * 16.0f) + 4.0f;
  const int crystalT = static_cast<int>(u.crystalType * 3.99f);
  const int numLayers = NumLayers(u);
  const int palette = static_cast<int>(u.colorMode * 9.99f);
  const float baseZoom = u.zoom * 2.0f;
  const float detail = u.complexity * 0.8f + 0.2f;

  Color color = {0.0f, 0.0f, 0.0f};
  float totalWeight = 0.0f;
  for (int layer = 0; layer < LayerCount(u); ++layer) {
    const float layerPhase = static_cast<float>(layer) / static_cast<float>(numLayers);
    const float phase = Fract(travelTime * 0.5f + layerPhase);
    const float layerZoom = baseZoom * std::exp(phase * 4.0f - 2.0f);
    const float alpha = Smoothstep(0.0f, 0.15f, phase) * Smoothstep(1.0f, 0.85f, phase);
    const float seed = Hash(SeedArgument(u, layer), seedSine);
    const Vec2 layerP = Rotate(seed * kTau * 0.1f, Scale(p, layerZoom));

    float d;
    if (crystalT == 0)
      d = Ferrofluid(layerP, seed, u.time, numBranches);
    else if (crystalT == 1)
      d = Julia(layerP, seed, u.time, detail);
    else if (crystalT == 2)
      d = Kaleido(layerP, seed, u.time, numBranches, detail * 10.0f);
    else
      d = Mandelbrot(layerP, seed, detail);

    const float minThickness = 1.5f / shortSide;
    const float depthThickness = std::max(u.thickness * 0.05f, minThickness) + phase * 0.01f;
    const float edge = Smoothstep(depthThickness, depthThickness * 0.1f, d);
    const float glow = std::exp(std::min(-d * (15.0f - u.glowAmount * 12.0f), 40.0f)) * u.glowAmount;
    const Color layerColor = Palette(palette, phase, seed, layerP, u.manualHue, u.saturation);
    const float intensity = (edge + glow);
    const float depthIntensity = Mix(0.4f, 1.0f, phase);
    color.r += layerColor.r * intensity * depthIntensity * alpha;
    color.g += layerColor.g * intensity * depthIntensity * alpha;
    color.b += layerColor.b * intensity * depthIntensity * alpha;
    totalWeight += alpha;
  }
  if (totalWeight > 0.0f) color = {color.r / totalWeight, color.g / totalWeight, color.b / totalWeight};
  color = {color.r * u.brightness, color.g * u.brightness, color.b * u.brightness};

  const float centerDist = Length(p);
  const float centerGlow = std::exp(-centerDist * 3.0f) * 0.15f * u.glowAmount;
  const float vignette = std::max(1.0f - centerDist * 0.35f, 0.4f);
  return {(color.r + centerGlow) * vignette, (color.g + centerGlow) * vignette, (color.b + centerGlow) * vignette};
}

}  // namespace model
