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
