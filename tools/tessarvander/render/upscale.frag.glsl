// The picture drawn smaller than the output, brought to the output's size.
// Positions are in the small picture's pixels; output pixel centres fall on
// the small picture's pixel centres' grid, scaled. FILTER (defined before
// this text, one program for each) picks the filter: a renderer that runs
// every branch of a condition then pays for one filter only.

in vec2 uv;
out vec4 colour;

uniform sampler2D picture;  // linear filtering, clamped at the edges
uniform vec2 pictureSize;

// The filters, in the order of UpscaleFilter.
#define BILINEAR 0
#define CATMULL_ROM 1
#define LANCZOS_2 2
#define SHARPENED 3

const float kPi = 3.14159265358979;
// Contrast-adaptive sharpening's strength, 0 (least) to 1 (most).
const float kSharpness = 0.5;

vec3 texel(ivec2 at) { return texelFetch(picture, clamp(at, ivec2(0), ivec2(pictureSize) - 1), 0).rgb; }

vec3 bilinear(vec2 position) { return texture(picture, position / pictureSize).rgb; }

// Catmull-Rom, the cubic through the neighbours with their slopes, in nine
// bilinear samples instead of sixteen texels: the two middle taps of each
// axis share one sample placed between them by their weights.
vec3 catmullRom(vec2 position) {
  vec2 centre = floor(position - 0.5) + 0.5;
  vec2 f = position - centre;
  vec2 w0 = f * (-0.5 + f * (1.0 - 0.5 * f));
  vec2 w1 = 1.0 + f * f * (-2.5 + 1.5 * f);
  vec2 w2 = f * (0.5 + f * (2.0 - 1.5 * f));
  vec2 w3 = f * f * (-0.5 + 0.5 * f);
  vec2 w12 = w1 + w2;
  vec2 at0 = (centre - 1.0) / pictureSize;
  vec2 at12 = (centre + w2 / w12) / pictureSize;
  vec2 at3 = (centre + 2.0) / pictureSize;
  vec3 sum = (texture(picture, vec2(at0.x, at0.y)).rgb * w0.x + texture(picture, vec2(at12.x, at0.y)).rgb * w12.x +
              texture(picture, vec2(at3.x, at0.y)).rgb * w3.x) * w0.y +
             (texture(picture, vec2(at0.x, at12.y)).rgb * w0.x + texture(picture, vec2(at12.x, at12.y)).rgb * w12.x +
              texture(picture, vec2(at3.x, at12.y)).rgb * w3.x) * w12.y +
             (texture(picture, vec2(at0.x, at3.y)).rgb * w0.x + texture(picture, vec2(at12.x, at3.y)).rgb * w12.x +
              texture(picture, vec2(at3.x, at3.y)).rgb * w3.x) * w3.y;
  return clamp(sum, 0.0, 1.0);
}

// Lanczos with two lobes: the sinc windowed by a sinc twice as wide.
float lanczos2(float x) {
  x = abs(x);
  if (x < 1e-5) return 1.0;
  if (x >= 2.0) return 0.0;
  float a = kPi * x;
  return 2.0 * sin(a) * sin(0.5 * a) / (a * a);
}

// The 4x4 pixels around the position, weighted by Lanczos in x and in y,
// the weights normalised.
vec3 lanczos(vec2 position) {
  vec2 grid = position - 0.5;
  ivec2 base = ivec2(floor(grid));
  vec2 within = grid - vec2(base);
  vec4 wx = vec4(lanczos2(-1.0 - within.x), lanczos2(-within.x), lanczos2(1.0 - within.x), lanczos2(2.0 - within.x));
  vec4 wy = vec4(lanczos2(-1.0 - within.y), lanczos2(-within.y), lanczos2(1.0 - within.y), lanczos2(2.0 - within.y));
  vec3 sum = vec3(0.0);
  vec3 lowest = vec3(1.0), highest = vec3(0.0);
  for (int y = 0; y < 4; ++y) {
    vec3 row = vec3(0.0);
    for (int x = 0; x < 4; ++x) {
      vec3 value = texel(base + ivec2(x - 1, y - 1));
      row += wx[x] * value;
      // The four nearest bound the result: the negative lobes sharpen an
      // edge without ringing past it.
      if (x == 1 || x == 2) {
        if (y == 1 || y == 2) lowest = min(lowest, value), highest = max(highest, value);
      }
    }
    sum += wy[y] * row;
  }
  return clamp(sum / (dot(wx, vec4(1.0)) * dot(wy, vec4(1.0))), lowest, highest);
}

// Bilinear, then sharpened by how much room the local contrast leaves
// (after AMD's contrast-adaptive sharpening): flat areas and hard edges
// are left alone, soft detail is lifted.
vec3 sharpened(vec2 position) {
  vec3 centre = bilinear(position);
  vec3 north = bilinear(position + vec2(0.0, 1.0)), south = bilinear(position - vec2(0.0, 1.0));
  vec3 east = bilinear(position + vec2(1.0, 0.0)), west = bilinear(position - vec2(1.0, 0.0));
  vec3 lowest = min(centre, min(min(north, south), min(east, west)));
  vec3 highest = max(centre, max(max(north, south), max(east, west)));
  vec3 room = sqrt(clamp(min(lowest, 1.0 - highest) / max(highest, vec3(1e-4)), 0.0, 1.0));
  vec3 weight = room * (-1.0 / mix(8.0, 5.0, kSharpness));
  return clamp((centre + (north + south + east + west) * weight) / (1.0 + 4.0 * weight), 0.0, 1.0);
}

void main() {
  vec2 position = uv * pictureSize;
#if FILTER == CATMULL_ROM
  vec3 rgb = catmullRom(position);
#elif FILTER == LANCZOS_2
  vec3 rgb = lanczos(position);
#elif FILTER == SHARPENED
  vec3 rgb = sharpened(position);
#else
  vec3 rgb = bilinear(position);
#endif
  colour = vec4(rgb, 1.0);
}
