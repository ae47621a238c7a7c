#version 410 core
precision highp float;

// Infinite fractal space travel.
//
// Every pixel is a pure function of its position and the uniforms. The view is
// centred and folded, turned and pulsed; then 3 to 9 layers of one fractal
// pattern are laid over each other, each on its own exponential zoom cycle,
// coloured by a palette, faded in and out at the ends of its cycle and
// averaged; a centre glow and a vignette finish the picture.

in vec2 uv;
out vec4 fragColor;

uniform float time;            // the travel clock; also drives pulse and kernels
uniform float zoom;            // base scale of every layer, 0.5 to 5.5
uniform float speed;           // first factor of the travel (1.0)
uniform float complexity;      // detail level, 0 to 1
uniform float branches;        // branch and spike count, 0 to 1
uniform float thickness;       // line width, 0 to 1
uniform float glowAmount;      // glow strength and reach, 0 to 1
uniform float colorMode;       // palette selector, 0 to 1
uniform float manualHue;       // base hue in turns
uniform float saturation;      // palette saturation, 0 to 1
uniform float brightness;      // gain on the averaged layers, 0 to 2
uniform float rotation;        // fixed view turn in turns
uniform float centerX;         // pattern centre, 0.5 is the view centre
uniform float centerY;
uniform float crystalType;     // fractal type selector, 0 to 1
uniform float pulseAmount;     // scale pulse depth, up to +-30 %
uniform float pulseSpeed;      // pulse cycles per unit of time
uniform float travelDirection; // second factor of the travel (1.0)
uniform float depthLayers;     // layer count selector, 0 to 1
uniform float mirrorMode;      // mirror fold bands, 0 to 1
uniform vec2 resolution;       // viewport size in pixels

#define PI 3.14159265358979323846
#define TAU 6.28318530717958647692

const int MAX_LAYERS = 12;
const int MAX_MAIN_SPIKES = 24;
const int MAX_SECONDARY_SPIKES = 36;
const int MAX_JULIA_ITERATIONS = 100;
const int MAX_FOLD_PASSES = 12;
const int MAX_MANDELBROT_ITERATIONS = 200;
const float NO_DISTANCE = 1e10;
const float ZOOM_CYCLE = 4.0;
// The glow's exponent never passes about 12 for parameters in 0..1; the cap
// only keeps overshooting host values (down to -10) from overflowing exp into
// infinity, which a zero colour channel or weight would turn into NaN.
const float MAX_GLOW_EXPONENT = 40.0;

// ---- Utilities --------------------------------------------------------------

float hash(float n)
{
    return fract(sin(n) * 43758.5453123);
}

vec3 hsv2rgb(vec3 c)
{
    vec3 q = abs(fract(c.xxx + vec3(1.0, 2.0 / 3.0, 1.0 / 3.0)) * 6.0 - 3.0);
    return c.z * ((1.0 - c.y) + c.y * clamp(q - 1.0, 0.0, 1.0));
}

mat2 rot2D(float a)
{
    float c = cos(a);
    float s = sin(a);
    return mat2(c, -s, s, c);
}

vec2 cMul(vec2 a, vec2 b)
{
    return vec2(a.x * b.x - a.y * b.y, a.x * b.y + a.y * b.x);
}

// smoothstep written out, so that it also gives a falling edge when e0 > e1
// (the built-in leaves that case undefined).
float hermiteStep(float e0, float e1, float x)
{
    float t = clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// The polar angle of p; 0 at the origin, where atan(0, 0) is undefined.
float angleOf(vec2 p)
{
    return (p.x == 0.0 && p.y == 0.0) ? 0.0 : atan(p.y, p.x);
}

// ---- Mirror fold ------------------------------------------------------------

// Carries p into the wedge between the positive x axis and TAU / (2 * mode),
// keeping its distance from the centre; neighbouring wedges mirror each other.
vec2 applyMirror(vec2 p, float mode)
{
    int segments = int(mode);
    if (segments <= 0) return p;
    float segmentAngle = TAU / float(segments * 2);
    float angle = angleOf(p);
    float r = length(p);
    angle = mod(angle + segmentAngle, segmentAngle * 2.0) - segmentAngle;
    angle = abs(angle);
    return r * vec2(cos(angle), sin(angle));
}

// ---- Fractal kernels --------------------------------------------------------
// Each returns a distance-like d: small or negative on the pattern's lines.

// Type 0: a breathing central blob with main and secondary spikes.
float ferrofluidSpikes(vec2 p, float seed, float t, float numSpikes, float detail)
{
    p = rot2D(seed * 0.5) * p;
    p += vec2(cos(seed * 3.7), sin(seed * 5.3)) * 0.2;

    float d = NO_DISTANCE;
    float r = length(p);
    float angle = angleOf(p);
    float centerMass = r - 0.2 - 0.05 * sin(t * 0.5);

    for (int i = 0; i < MAX_MAIN_SPIKES; i++) {
        if (float(i) >= numSpikes) break;
        float spikeAngle = TAU * float(i) / numSpikes + seed;
        float angleDiff = abs(mod(angle - spikeAngle + PI, TAU) - PI);
        float spikeLength = 0.3 + 0.15 * sin(t * 0.7 + float(i) * 0.5 + seed);
        float spikeWidth = 0.03 + 0.02 * (1.0 - r / spikeLength);
        if (angleDiff < 0.3) {
            float alongSpike = r - 0.15;
            float acrossSpike = angleDiff * r;
            float taper = max(0.0, 1.0 - alongSpike / spikeLength);
            float spikeD = acrossSpike - spikeWidth * taper;
            if (alongSpike > 0.0 && alongSpike < spikeLength) d = min(d, spikeD);
        }
    }

    for (int i = 0; i < MAX_SECONDARY_SPIKES; i++) {
        if (float(i) >= numSpikes * 1.5) break;
        float spikeAngle = TAU * (float(i) + 0.5) / (numSpikes * 1.5) + seed * 2.0;
        float angleDiff = abs(mod(angle - spikeAngle + PI, TAU) - PI);
        float spikeLength = 0.15 + 0.08 * sin(t * 0.9 + float(i) * 0.7);
        if (angleDiff < 0.2) {
            float alongSpike = r - 0.18;
            float taper = max(0.0, 1.0 - alongSpike / spikeLength);
            float spikeD = angleDiff * r - 0.015 * taper;
            if (alongSpike > 0.0 && alongSpike < spikeLength) d = min(d, spikeD);
        }
    }

    d = min(d, centerMass);
    d -= 0.005 * sin(angle * numSpikes * 2.0 + t);
    return d;
}

// Type 1: a Julia set whose constant circles the origin slowly.
float juliaFractal(vec2 p, float seed, float t, float detail)
{
    float cAngle = t * 0.1 + seed * TAU;
    float cRadius = 0.7885 + 0.1 * sin(t * 0.3 + seed);
    vec2 c = cRadius * vec2(cos(cAngle), sin(cAngle));
    vec2 z = p * 1.5;

    float iter = 0.0;
    float minDist = NO_DISTANCE;
    int maxIter = int(detail * 15.0) + 20;
    for (int i = 0; i < MAX_JULIA_ITERATIONS; i++) {
        if (i >= maxIter) break;
        z = cMul(z, z) + c;
        minDist = min(minDist, length(z));
        if (dot(z, z) > 4.0) {
            iter = float(i) - log2(log2(dot(z, z))) + 4.0;
            break;
        }
        iter = float(i);
    }

    // The smooth count can run past maxIter at the set's boundary; the clamp
    // keeps the square root's base in [0, 1] so no NaN reaches the layer sum.
    // (maxIter is 0 only for a complexity near -2, where the loop never runs.)
    float d = clamp(1.0 - iter / float(max(maxIter, 1)), 0.0, 1.0);
    d = pow(d, 0.5);
    d = mix(d, minDist * 0.5, 0.3);
    return d * 0.1;
}

// Type 2: repeated polar folds with numBranches-fold symmetry.
float kaleidoFractal(vec2 p, float seed, float t, float numBranches, float detail)
{
    p = rot2D(seed) * p;
    float d = NO_DISTANCE;
    // A count of 0 (branches near -0.2) has no sector to fold into.
    float n = numBranches == 0.0 ? 1.0 : numBranches;

    for (int i = 0; i < MAX_FOLD_PASSES; i++) {
        if (float(i) >= detail) break;
        float angle = angleOf(p);
        angle = mod(angle + PI / n, TAU / n) - PI / n;
        p = length(p) * vec2(cos(angle), abs(sin(angle)));
        float s = 0.5 + 0.1 * sin(t * 0.3 + seed + float(i));
        p = abs(p) - vec2(s);
        if (p.x < p.y) p = p.yx;
        p *= 1.5;
        p = rot2D(0.3 + 0.1 * sin(t * 0.2 + float(i))) * p;
        float line = min(abs(p.x), abs(p.y)) / pow(1.5, float(i + 1));
        d = min(d, line);
    }
    return d;
}

// Type 3: the Mandelbrot set near Sea Horse Valley, with an orbit trap at (0, 1).
// It does not animate: t is not read.
float mandelbrotFractal(vec2 p, float seed, float t, float detail)
{
    vec2 target = vec2(-0.745, 0.186) + vec2(cos(seed * 5.0), sin(seed * 7.0)) * 0.02;
    float zoomLevel = 1.0 + seed * 0.5;
    vec2 c = target + p / zoomLevel;
    vec2 z = vec2(0.0);

    float iter = 0.0;
    int maxIter = int(detail * 20.0) + 50;
    float minDist = NO_DISTANCE;
    vec2 trap = vec2(0.0, 1.0);
    for (int i = 0; i < MAX_MANDELBROT_ITERATIONS; i++) {
        if (i >= maxIter) break;
        z = vec2(z.x * z.x - z.y * z.y, 2.0 * z.x * z.y) + c;
        minDist = min(minDist, length(z - trap));
        if (dot(z, z) > 256.0) {
            iter = float(i) - log2(log2(dot(z, z))) + 4.0;
            break;
        }
        iter = float(i);
    }

    float d = iter / float(max(maxIter, 1));
    d = mix(d, minDist * 0.3, 0.4);
    d = 1.0 - pow(d, 0.7);
    return d * 0.08;
}

// ---- One layer --------------------------------------------------------------

float fractalKernel(int crystalT, vec2 layerP, float layerSeed, float numBranches, float detail)
{
    if (crystalT == 0) return ferrofluidSpikes(layerP, layerSeed, time, numBranches, detail * 10.0);
    if (crystalT == 1) return juliaFractal(layerP, layerSeed, time, detail);
    if (crystalT == 2) return kaleidoFractal(layerP, layerSeed, time, numBranches, detail * 10.0);
    return mandelbrotFractal(layerP, layerSeed, time, detail);
}

// Invisible at both ends of the cycle, so the wrap to a new seed never shows.
float layerFade(float phase)
{
    float fadeIn = hermiteStep(0.0, 0.15, phase);
    float fadeOut = hermiteStep(1.0, 0.85, phase);
    return fadeIn * fadeOut;
}

// 1 on the lines, 0 beyond the line width; never thinner than 1.5 pixels.
float lineMask(float d, float phase)
{
    float minThickness = 1.5 / min(resolution.x, resolution.y);
    float depthThickness = max(thickness * 0.05, minThickness) + phase * 0.01;
    return hermiteStep(depthThickness, depthThickness * 0.1, d);
}

float lineGlow(float d)
{
    float glowDist = exp(min(-d * (15.0 - glowAmount * 12.0), MAX_GLOW_EXPONENT));
    return glowDist * glowAmount;
}

vec3 paletteColor(float phase, float layerSeed, vec2 layerP)
{
    int colorModeInt = int(colorMode * 9.99);
    if (colorModeInt == 0) { // Manual
        return hsv2rgb(vec3(manualHue, saturation, 1.0));
    }
    if (colorModeInt == 1) { // Ice Blue
        return mix(vec3(0.1, 0.3, 0.9), vec3(0.9, 0.95, 1.0), phase);
    }
    if (colorModeInt == 2) { // Fire
        return mix(vec3(0.9, 0.1, 0.0), vec3(1.0, 0.9, 0.3), phase);
    }
    if (colorModeInt == 3) { // Rainbow Radial
        float angle = angleOf(layerP) / TAU + 0.5;
        float hue = manualHue + angle;
        return hsv2rgb(vec3(fract(hue), saturation, 1.0));
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
    return vec3(1.0); // Monochrome
}

// ---- The whole picture ------------------------------------------------------

// Centred, aspect-correct view position, shifted by the centre offset.
vec2 viewPosition(vec2 fragCoord)
{
    vec2 p = (fragCoord - 0.5 * resolution) / min(resolution.x, resolution.y);
    return p - vec2((centerX - 0.5) * 2.0, (centerY - 0.5) * 2.0);
}

// The mirror bands: no fold, 2 halves, 4, 8 or 16 wedges.
vec2 foldMirror(vec2 p)
{
    int mirrorSegments = 0;
    if (mirrorMode > 0.1) mirrorSegments = 2;
    if (mirrorMode > 0.3) mirrorSegments = 4;
    if (mirrorMode > 0.5) mirrorSegments = 8;
    if (mirrorMode > 0.7) mirrorSegments = 16;
    if (mirrorSegments > 0) p = applyMirror(p, float(mirrorSegments / 2));
    return p;
}

// Turned by the fixed rotation plus a slow drift with the travel, then scaled
// by the pulse, which follows the unscaled time.
vec2 turnAndPulse(vec2 p, float travelTime)
{
    p = rot2D(rotation * TAU + travelTime * 0.05) * p;
    float pulse = 1.0 + pulseAmount * 0.3 * sin(time * pulseSpeed * TAU);
    return p * pulse;
}

// Centre glow and vignette, both by the distance from the pattern centre.
vec3 finishColor(vec3 color, vec2 p)
{
    float centerDist = length(p);
    float centerGlow = exp(-centerDist * 3.0) * 0.15 * glowAmount;
    color += vec3(centerGlow);
    float vignette = max(1.0 - centerDist * 0.35, 0.4);
    return color * vignette;
}

vec4 renderInfiniteTravel(vec2 fragCoord)
{
    vec2 p = viewPosition(fragCoord);
    p = foldMirror(p);
    float travelTime = time * speed * travelDirection;
    p = turnAndPulse(p, travelTime);

    float numBranches = floor(branches * 16.0) + 4.0;
    int crystalT = int(crystalType * 3.99);
    int numLayers = int(depthLayers * 6.0) + 3;
    float detail = complexity * 0.8 + 0.2;
    float baseZoom = zoom * 2.0;

    vec3 color = vec3(0.0);
    float totalWeight = 0.0;
    for (int layer = 0; layer < MAX_LAYERS; layer++) {
        if (layer >= numLayers) break;

        // Where this layer stands in its zoom cycle, and which cycle it is in.
        float layerPhase = float(layer) / float(numLayers);
        float layerZoomPhase = fract(travelTime * 0.5 + layerPhase);
        float layerZoom = baseZoom * exp(layerZoomPhase * ZOOM_CYCLE - ZOOM_CYCLE * 0.5);
        float layerAlpha = layerFade(layerZoomPhase);
        float cycleSeed = floor(travelTime * 0.5 + layerPhase);
        float layerSeed = hash(cycleSeed * 17.31 + float(layer) * 7.13);

        vec2 layerP = p * layerZoom;
        layerP = rot2D(layerSeed * TAU * 0.1) * layerP;

        float d = fractalKernel(crystalT, layerP, layerSeed, numBranches, detail);
        float edge = lineMask(d, layerZoomPhase);
        float glow = lineGlow(d);
        vec3 layerColor = paletteColor(layerZoomPhase, layerSeed, layerP);

        vec3 finalLayerColor = layerColor * (edge + glow);
        float depthIntensity = mix(0.4, 1.0, layerZoomPhase);
        finalLayerColor *= depthIntensity;

        color += finalLayerColor * layerAlpha;
        totalWeight += layerAlpha;
    }

    if (totalWeight > 0.0) color /= totalWeight;
    color *= brightness;
    color = finishColor(color, p);
    return vec4(color, 1.0);
}

void main()
{
    vec2 fragCoord = uv * resolution;
    fragColor = renderInfiniteTravel(fragCoord);
}
