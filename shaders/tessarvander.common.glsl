// ---- Shared by both stages --------------------------------------------------
// Inserted after the version line of each stage at build time, after the
// parameters' uniforms and rules (generated from the parameter table). The
// other uniforms, the constants, and the arithmetic that the vertex stage
// evaluates once per frame and layer on behalf of every pixel.

uniform float time;            // the travel clock; also drives pulse and kernels
uniform float speed;           // first factor of the travel (1.0)
uniform float travelDirection; // second factor of the travel (1.0)
uniform vec2 resolution;       // viewport size in pixels

#define PI 3.14159265358979323846
#define TAU 6.28318530717958647692

// 9 layers for Depth Layers up to 1; overshooting host values reach 12.
const int MAX_LAYERS = 12;
const float ZOOM_CYCLE = 4.0;

const int FERROFLUID = 0;
const int JULIA = 1;
const int KALEIDOSCOPE = 2;
const int MANDELBROT = 3;

const int RAINBOW_RADIAL = 3;  // the palette that takes its colour from the pixel's angle

// The per-layer table: for layer i, rows 3i (the view), 3i + 1 (the kernel's
// values) and 3i + 2 (the colour and the phase).
const int TABLE_ROWS_PER_LAYER = 3;

float hash(float n)
{
    return fract(sin(n) * 43758.5453123);
}

vec3 hsv2rgb(vec3 c)
{
    vec3 q = abs(fract(c.xxx + vec3(1.0, 2.0 / 3.0, 1.0 / 3.0)) * 6.0 - 3.0);
    return c.z * ((1.0 - c.y) + c.y * clamp(q - 1.0, 0.0, 1.0));
}

float travelTime() { return time * speed * travelDirection; }
int layerCount() { return int(depthLayersCount()); }
// A program built for one kernel knows it; the general one reads it.
#ifdef KERNEL
int kernelType() { return KERNEL; }
#else
int kernelType() { return crystalTypeBand(); }
#endif
float branchCount() { return branchesCount(); }

// Where a layer stands in its zoom cycle: 0 at its largest, toward 1 at its
// smallest.
float layerPhase(int layer, int numLayers)
{
    return fract(travelTime() * 0.5 + float(layer) / float(numLayers));
}

// A layer's zoom, its seed (new every cycle), and the cosine and sine of the
// seed's turn.
vec4 layerViewOf(int layer, int numLayers)
{
    float phase = layerPhase(layer, numLayers);
    float layerZoom = zoom * 2.0 * exp(phase * ZOOM_CYCLE - ZOOM_CYCLE * 0.5);
    float cycleSeed = floor(travelTime() * 0.5 + float(layer) / float(numLayers));
    float seed = hash(cycleSeed * 17.31 + float(layer) * 7.13);
    float turn = seed * TAU * 0.1;
    return vec4(layerZoom, seed, cos(turn), sin(turn));
}

// What the chosen kernel computes from a layer's seed alone:
//   ferrofluid:   cos and sin of its turn, cos and sin behind its offset
//   Julia:        the constant's radius, cos and sin of its angle
//   kaleidoscope: cos and sin of its turn, sin and cos of its breathing phase
//   Mandelbrot:   the view's target and zoom
// A product that the kernel adds to something is left for the kernel to
// form, where the compiler may fuse the two as it did when the kernel
// computed everything: the arithmetic, and so the picture, stays the same.
// Every kernel needs at most two cosines and two sines: their angles are
// chosen first, so that one set of four serves whichever kernel is drawn.
vec4 kernelValuesOf(int kernel, float seed)
{
    float cAngle = time * 0.1 + seed * TAU;
    float breathing = time * 0.3 + seed;
    vec4 angles;  // of cos, sin, cos, sin
    if (kernel == FERROFLUID) angles = vec4(seed * 0.5, seed * 0.5, seed * 3.7, seed * 5.3);
    else if (kernel == JULIA) angles = vec4(cAngle, cAngle, 0.0, breathing);
    else if (kernel == KALEIDOSCOPE) angles = vec4(seed, seed, breathing, breathing);
    else angles = vec4(seed * 5.0, seed * 7.0, 0.0, 0.0);
    vec4 trig = vec4(cos(angles.x), sin(angles.y), cos(angles.z), sin(angles.w));

    if (kernel == FERROFLUID) return trig;
    if (kernel == JULIA) return vec4(0.7885 + 0.1 * trig.w, trig.xy, 0.0);
    if (kernel == KALEIDOSCOPE) return vec4(trig.xy, trig.wz);
    vec2 target = vec2(-0.745, 0.186) + trig.xy * 0.02;
    return vec4(target, 1.0 + seed * 0.5, 0.0);
}

// Smoothstep written out, so that it also gives a falling edge when e0 > e1
// (the built-in leaves that case undefined).
float hermiteStep(float e0, float e1, float x)
{
    float t = clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// A layer's palette colour, for every palette but Rainbow Radial: from the
// layer's phase and seed alone, so the same for all its pixels.
vec3 layerPaletteColour(float phase, float layerSeed)
{
    int colorModeInt = colorModeBand();
    if (colorModeInt == 0) { // Manual
        return hsv2rgb(vec3(manualHue, saturation, 1.0));
    }
    if (colorModeInt == 1) { // Ice Blue
        return mix(vec3(0.1, 0.3, 0.9), vec3(0.9, 0.95, 1.0), phase);
    }
    if (colorModeInt == 2) { // Fire
        return mix(vec3(0.9, 0.1, 0.0), vec3(1.0, 0.9, 0.3), phase);
    }
    if (colorModeInt == 4) { // Rainbow Depth
        float hue = manualHue + phase;
        return hsv2rgb(vec3(fract(hue), saturation, 1.0));
    }
    if (colorModeInt == 5) { // Nebula
        vec3 c1 = vec3(0.3, 0.0, 0.5);
        vec3 c2 = vec3(0.0, 0.6, 0.8);
        vec3 c3 = vec3(1.0, 0.2, 0.6);
        float t1 = sin(phase * PI + layerSeed * TAU) * 0.5 + 0.5;
        float t2 = cos(phase * PI * 2.0) * 0.5 + 0.5;
        return mix(mix(c1, c2, t1), c3, t2);
    }
    if (colorModeInt == 6) { // Gold/Bronze
        vec3 deep = vec3(0.3, 0.2, 0.1);
        vec3 mid = vec3(0.8, 0.5, 0.2);
        vec3 near = vec3(1.0, 0.9, 0.6);
        float t1 = hermiteStep(0.0, 0.5, phase);
        float t2 = hermiteStep(0.5, 1.0, phase);
        return mix(mix(deep, mid, t1), near, t2);
    }
    if (colorModeInt == 7) { // Matrix Green
        return mix(vec3(0.0, 0.2, 0.0), vec3(0.3, 1.0, 0.3), phase);
    }
    if (colorModeInt == 8) { // Synthwave
        vec3 c1 = vec3(0.1, 0.0, 0.3);
        vec3 c2 = vec3(1.0, 0.0, 0.5);
        vec3 c3 = vec3(0.0, 0.8, 1.0);
        float t1 = phase;
        return mix(c1, mix(c2, c3, t1), t1);
    }
    return vec3(1.0); // Monochrome (and Rainbow Radial, which the fragment stage draws)
}
