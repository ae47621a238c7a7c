#version 410 core
precision highp float;

// Infinite fractal space travel.
//
// Every pixel is a pure function of its position and the uniforms. The view is
// centred and folded, turned and pulsed; then 3 to 9 layers of one fractal
// pattern are laid over each other, each on its own exponential zoom cycle,
// coloured by a palette, faded in and out at the ends of its cycle and
// averaged; a centre glow and a vignette finish the picture.
//
// What is the same for every pixel of a frame comes from the vertex stage
// (frameView) and the render pass (kaleidoPassTurns); what is the same for
// every pixel of a layer, from the per-layer table, a uniform block filled
// once a frame (tessarvander.layers.glsl): this stage does only the work that
// differs from pixel to pixel.
//
// The arithmetic is that of the original single-stage formulation, operation
// for operation, so the picture is the same to the bit, except in the
// kaleidoscope, whose fold passes agree with it to a few units in the last
// place (see kaleidoFractal).

in vec2 uv;
flat in vec4 frameView;
out vec4 fragColor;

layout(std140) uniform LayerTable {
    vec4 layerTable[TABLE_ROWS_PER_LAYER * MAX_LAYERS];
};

const int MAX_FOLD_PASSES = 12;
// The turn after each kaleidoscope fold pass, cos and sin of
// 0.3 + 0.1 sin(0.2 time + pass): the same for every pixel and layer.
uniform vec2 kaleidoPassTurns[MAX_FOLD_PASSES];

const int MAX_MAIN_SPIKES = 24;
const int MAX_SECONDARY_SPIKES = 36;
const int MAX_JULIA_ITERATIONS = 100;
const int MAX_MANDELBROT_ITERATIONS = 200;
const float NO_DISTANCE = 1e10;
// Above NO_DISTANCE squared: the root of a running minimum of squares that
// never ran is above NO_DISTANCE, and min() turns it into NO_DISTANCE.
const float NO_DISTANCE_SQUARED = 1e38;
// The glow's exponent never passes about 12 for parameters in 0..1; the cap
// only keeps overshooting host values (down to -10) from overflowing exp into
// infinity, which a zero colour channel or weight would turn into NaN.
const float MAX_GLOW_EXPONENT = 40.0;

// ---- Utilities --------------------------------------------------------------

// A turn by the angle whose cosine and sine are given.
mat2 turnBy(float c, float s)
{
    return mat2(c, -s, s, c);
}

vec2 cMul(vec2 a, vec2 b)
{
    return vec2(a.x * b.x - a.y * b.y, a.x * b.y + a.y * b.x);
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
//
// A spike counts for a pixel only within 0.3 rad (main) or 0.2 rad
// (secondary) of the pixel's angle. Up to 20 main spikes stand at least
// 0.314 rad apart, and up to 30 secondary ones at least 0.209 rad, so only
// the spikes on either side of the pixel's angle can pass; those are
// evaluated exactly as a loop over all of them would, and d is the same.
// More spikes than that (overshooting Branches values) are all visited.

// The two kinds of spike, as the values that set one apart from the other.
struct SpikeKind {
    float halfStep;   // 0 for main spikes, which stand at whole steps; 0.5
    float count;      // spikes round the ring
    float turn;       // where step 0 stands
    float baseLength; // length = baseLength + lengthSwing * sin(t * rate + i * spread + phase)
    float lengthSwing;
    float rate;
    float spread;
    float phase;
    float reach;      // how far round from the spike a pixel counts
    float root;       // where the spike starts, from the centre
    bool tapers;      // main spikes narrow toward the tip, secondary ones keep 0.015
};

SpikeKind mainSpikes(float seed, float numSpikes)
{
    return SpikeKind(0.0, numSpikes, seed, 0.3, 0.15, 0.7, 0.5, seed, 0.3, 0.15, true);
}

SpikeKind secondarySpikes(float seed, float numSpikes)
{
    return SpikeKind(0.5, numSpikes * 1.5, seed * 2.0, 0.15, 0.08, 0.9, 0.7, 0.0, 0.2, 0.18, false);
}

// Spike i of the kind: d, or the spike's distance where that is smaller.
float spike(SpikeKind kind, int i, float d, float angle, float r, float t)
{
    float spikeAngle = TAU * (float(i) + kind.halfStep) / kind.count + kind.turn;
    float angleDiff = abs(mod(angle - spikeAngle + PI, TAU) - PI);
    float spikeLength = kind.baseLength + kind.lengthSwing * sin(t * kind.rate + float(i) * kind.spread + kind.phase);
    float spikeWidth = kind.tapers ? 0.03 + 0.02 * (1.0 - r / spikeLength) : 0.015;
    if (angleDiff < kind.reach) {
        float alongSpike = r - kind.root;
        float acrossSpike = angleDiff * r;
        float taper = max(0.0, 1.0 - alongSpike / spikeLength);
        float spikeD = acrossSpike - spikeWidth * taper;
        if (alongSpike > 0.0 && alongSpike < spikeLength) d = min(d, spikeD);
    }
    return d;
}

// The spike `offset` places on from spike `first`, round a ring of `count`.
int ringIndex(float first, float offset, float count)
{
    float i = first + offset;
    return int(i - count * floor(i / count));
}

const float MAX_NEAREST_SPIKES = 20.0;

float ferrofluidSpikes(vec2 p, float seed, vec4 placement, float t, float numSpikes)
{
    p = turnBy(placement.x, placement.y) * p;
    p += placement.zw * 0.2;

    float d = NO_DISTANCE;
    float r = length(p);
    float angle = angleOf(p);
    float centerMass = r - 0.2 - 0.05 * frameView.w;

    bool nearestOnly = numSpikes >= 1.0 && numSpikes <= MAX_NEAREST_SPIKES;
    // Main spikes stand evenly round the ring: the one just below the
    // pixel's angle and the one just above.
    float below = floor((angle - seed) * numSpikes / TAU);
    // Secondary spikes stand at half steps. With an odd count the last one
    // falls on step 0, half a step before the first, off the even spacing of
    // the others: it is always looked at, as a third.
    float steps = numSpikes * 1.5;
    float evenCount = floor(steps);
    float position = (angle - seed * 2.0) * steps / TAU;
    float belowSecondary = floor(position - steps * floor(position / steps) - 0.5);
    float mainCount = nearestOnly ? 2.0 : clamp(ceil(numSpikes), 0.0, float(MAX_MAIN_SPIKES));
    float secondaryCount = nearestOnly ? (evenCount < steps ? 3.0 : 2.0)
                                       : clamp(ceil(steps), 0.0, float(MAX_SECONDARY_SPIKES));

    // One loop over the main, then the secondary spikes, of a run-time count:
    // a CPU renderer that runs every branch of a uniform condition for every
    // pixel leaves a loop whose pixels have all gone after one pass, so the
    // other kernels pay for one spike, not for all of these.
    for (float k = 0.0; k < mainCount + secondaryCount; k++) {
        bool isMain = k < mainCount;
        float j = isMain ? k : k - mainCount;
        int i = !nearestOnly ? int(j)
              : isMain ? ringIndex(below, j, numSpikes)
              : j < 2.0 ? ringIndex(belowSecondary, j, evenCount) : int(evenCount);
        d = spike(isMain ? mainSpikes(seed, numSpikes) : secondarySpikes(seed, numSpikes), i, d, angle, r, t);
    }

    d = min(d, centerMass);
    d -= 0.005 * sin(angle * numSpikes * 2.0 + t);
    return d;
}

// Type 1: a Julia set whose constant circles the origin slowly. The orbit
// trap keeps the smallest squared distance and takes one root at the end:
// the root of the smallest square is the smallest root.
float juliaFractal(vec2 p, vec2 c, float detail)
{
    vec2 z = p * 1.5;

    float iter = 0.0;
    float minSquare = NO_DISTANCE_SQUARED;
    int maxIter = int(detail * 15.0) + 20;
    for (int i = 0; i < MAX_JULIA_ITERATIONS; i++) {
        if (i >= maxIter) break;
        z = cMul(z, z) + c;
        minSquare = min(minSquare, dot(z, z));
        if (dot(z, z) > 4.0) {
            iter = float(i) - log2(log2(dot(z, z))) + 4.0;
            break;
        }
        iter = float(i);
    }
    float minDist = min(NO_DISTANCE, sqrt(minSquare));

    // The smooth count can run past maxIter at the set's boundary; the clamp
    // keeps the square root's base in [0, 1] so no NaN reaches the layer sum.
    // (maxIter is 0 only for a complexity near -2, where the loop never runs.)
    float d = clamp(1.0 - iter / float(max(maxIter, 1)), 0.0, 1.0);
    d = pow(d, 0.5);
    d = mix(d, minDist * 0.5, 0.3);
    return d * 0.1;
}

// Type 2: repeated polar folds with numBranches-fold symmetry.
//
// What stays the same through a frame comes from outside the loop: the turn
// after each pass (kaleidoPassTurns, from the render pass), the scale of each
// pass's lines (a running product), and the breathing of the fold offsets
// (a running turn of the layer's breathing phase by one radian a pass). The
// folded angle is never beyond a half turn, where cosine and sine are short
// polynomials of its half. All agree with computing them afresh per pixel to
// within a few units in the last place.

// cos and sin of a in [-PI, PI], from a's half: Taylor series of the half
// to the 11th and 12th power (within 6e-8), then the double-angle formulas.
vec2 cosSinOfSmallAngle(float a)
{
    float h = 0.5 * a;
    float h2 = h * h;
    float s = h * (1.0 + h2 * (-1.0 / 6.0 + h2 * (1.0 / 120.0 + h2 * (-1.0 / 5040.0 + h2 * (1.0 / 362880.0
                  + h2 * (-1.0 / 39916800.0))))));
    float c = 1.0 + h2 * (-0.5 + h2 * (1.0 / 24.0 + h2 * (-1.0 / 720.0 + h2 * (1.0 / 40320.0
                  + h2 * (-1.0 / 3628800.0 + h2 * (1.0 / 479001600.0))))));
    return vec2(1.0 - 2.0 * s * s, 2.0 * s * c);
}

const vec2 ONE_RADIAN_TURN = vec2(cos(1.0), sin(1.0));

float kaleidoFractal(vec2 p, vec4 layerValues, float numBranches, float detail)
{
    p = turnBy(layerValues.x, layerValues.y) * p;
    float d = NO_DISTANCE;
    // A count of 0 (branches near -0.2) has no sector to fold into.
    float n = numBranches == 0.0 ? 1.0 : numBranches;
    float halfWedge = PI / n;
    float wedge = TAU / n;
    // sin and cos of the fold offsets' breathing phase, pass by pass.
    vec2 breathing = layerValues.zw;
    float scale = 1.0;

    for (int i = 0; i < MAX_FOLD_PASSES; i++) {
        if (float(i) >= detail) break;
        float angle = mod(angleOf(p) + halfWedge, wedge) - halfWedge;
        vec2 folded = cosSinOfSmallAngle(angle);
        p = length(p) * vec2(folded.x, abs(folded.y));
        float s = 0.5 + 0.1 * breathing.x;
        breathing = vec2(breathing.x * ONE_RADIAN_TURN.x + breathing.y * ONE_RADIAN_TURN.y,
                         breathing.y * ONE_RADIAN_TURN.x - breathing.x * ONE_RADIAN_TURN.y);
        p = abs(p) - vec2(s);
        if (p.x < p.y) p = p.yx;
        p *= 1.5;
        vec2 passTurn = kaleidoPassTurns[i];
        p = turnBy(passTurn.x, passTurn.y) * p;
        scale *= 1.5;
        float line = min(abs(p.x), abs(p.y)) / scale;
        d = min(d, line);
    }
    return d;
}

// Type 3: the Mandelbrot set near Sea Horse Valley, with an orbit trap at (0, 1).
// It does not animate. The trap keeps squares, as the Julia set's does.
float mandelbrotFractal(vec2 p, vec2 target, float zoomLevel, float detail)
{
    vec2 c = target + p / zoomLevel;
    vec2 z = vec2(0.0);

    float iter = 0.0;
    int maxIter = int(detail * 20.0) + 50;
    float minSquare = NO_DISTANCE_SQUARED;
    vec2 trap = vec2(0.0, 1.0);
    for (int i = 0; i < MAX_MANDELBROT_ITERATIONS; i++) {
        if (i >= maxIter) break;
        z = vec2(z.x * z.x - z.y * z.y, 2.0 * z.x * z.y) + c;
        minSquare = min(minSquare, dot(z - trap, z - trap));
        if (dot(z, z) > 256.0) {
            iter = float(i) - log2(log2(dot(z, z))) + 4.0;
            break;
        }
        iter = float(i);
    }
    float minDist = min(NO_DISTANCE, sqrt(minSquare));

    float d = iter / float(max(maxIter, 1));
    d = mix(d, minDist * 0.3, 0.4);
    d = 1.0 - pow(d, 0.7);
    return d * 0.08;
}

// ---- One layer --------------------------------------------------------------

float fractalKernel(int crystalT, vec2 layerP, float layerSeed, vec4 kernelValues, float numBranches, float detail)
{
    if (crystalT == FERROFLUID) return ferrofluidSpikes(layerP, layerSeed, kernelValues, time, numBranches);
    if (crystalT == JULIA) return juliaFractal(layerP, kernelValues.x * kernelValues.yz, detail);
    if (crystalT == KALEIDOSCOPE) return kaleidoFractal(layerP, kernelValues, numBranches, detail * 10.0);
    return mandelbrotFractal(layerP, kernelValues.xy, kernelValues.z, detail);
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

// The layer's palette colour: from the table, but for Rainbow Radial, whose
// hue turns with the pixel's angle round the layer's centre.
vec3 paletteColor(vec3 layerColour, vec2 layerP)
{
    if (colorModeBand() != RAINBOW_RADIAL) return layerColour;
    float angle = angleOf(layerP) / TAU + 0.5;
    float hue = manualHue + angle;
    return hsv2rgb(vec3(fract(hue), saturation, 1.0));
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
    int mirrorSegments = mirrorModeWedges();
    if (mirrorSegments > 0) p = applyMirror(p, float(mirrorSegments / 2));
    return p;
}

// Turned by the fixed rotation plus a slow drift with the travel, then scaled
// by the pulse, which follows the unscaled time.
vec2 turnAndPulse(vec2 p)
{
    p = turnBy(frameView.x, frameView.y) * p;
    return p * frameView.z;
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

// One layer's colour and weight, added to the running sums; its row of the
// table gives its view, its kernel's values, its colour and its phase.
void addLayer(vec4 view, vec4 kernelValues, vec4 colourAndPhase, vec2 p, inout vec3 color, inout float totalWeight)
{
    float numBranches = branchCount();
    float detail = complexity * 0.8 + 0.2;
    float layerZoomPhase = colourAndPhase.w;
    float layerAlpha = layerFade(layerZoomPhase);
    float layerSeed = view.y;

    vec2 layerP = p * view.x;
    layerP = turnBy(view.z, view.w) * layerP;

    float d = fractalKernel(kernelType(), layerP, layerSeed, kernelValues, numBranches, detail);
    float edge = lineMask(d, layerZoomPhase);
    float glow = lineGlow(d);
    vec3 layerColor = paletteColor(colourAndPhase.rgb, layerP);

    vec3 finalLayerColor = layerColor * (edge + glow);
    float depthIntensity = mix(0.4, 1.0, layerZoomPhase);
    finalLayerColor *= depthIntensity;

    color += finalLayerColor * layerAlpha;
    totalWeight += layerAlpha;
}

vec4 renderInfiniteTravel(vec2 fragCoord)
{
    vec2 p = viewPosition(fragCoord);
    p = foldMirror(p);
    p = turnAndPulse(p);

    int numLayers = layerCount();
    vec3 color = vec3(0.0);
    float totalWeight = 0.0;
    for (int layer = 0; layer < MAX_LAYERS; layer++) {
        if (layer >= numLayers) break;
        int row = TABLE_ROWS_PER_LAYER * layer;
        addLayer(layerTable[row], layerTable[row + 1], layerTable[row + 2], p, color, totalWeight);
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
