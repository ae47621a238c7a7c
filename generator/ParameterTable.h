// The nineteen parameters as data, from the one table in Parameters.def:
// what the plugin registers, how the render pass scales and eases each value
// into its uniform, and the profile that names a value the way the shader
// reads it ("Julia", "12 branches", "6 layers", "216°").
//
// Header-only and free of the plugin's framework, so that a host may use it
// for this plugin (identifier "QLMB") without linking the plugin.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tessarvander {

// value -> (value - bias) * factor + offset, in single precision; a step that
// would change nothing is not taken, so an unscaled value passes bit for bit.
struct Scaling {
  float bias;
  float factor;
  float offset;
};

enum class Easing { Held, Eased };

// A parameter that selects one of several bands: the shader takes band
// int(value * factor), truncated toward zero, and draws the last band for
// anything outside the named ones (a host's value far below 0 or above 1).
struct Bands {
  float factor;  // 0 for a parameter without bands
  const char* const* names;
  int count;
};

enum class UnitKind { Plain, Degrees, Count, Wedges };
enum class Rounding { Floor, Truncate };
struct Units {
  UnitKind kind = UnitKind::Plain;
  // Count: rounding(value * factor) + offset of `word`.
  Rounding rounding = Rounding::Floor;
  float factor = 0.0f;
  int offset = 0;
  const char* word = "";
  // Wedges: no fold up to thresholds[0], then 2 wedges, doubling above each
  // further threshold.
  const float* thresholds = nullptr;
  int thresholdCount = 0;
};

struct ParameterRow {
  uint32_t index;
  const char* name;
  float defaultValue;
  const char* uniform;  // null: the value reaches the picture some other way
  Scaling scaling;
  Easing easing;
  Bands bands;
  Units units;
};

namespace table {

// The per-row facts that need storage of their own, by stem, one pass over
// the table each: band names, band factor, fold thresholds and units.
#define AS_IS
#define LINEAR(bias, factor, offset)
#define EASED
#define HELD
#define PLAIN
#define DEGREES
#define COUNT(rounding, factor, offset, word)
#define WEDGES(...)
#define NO_BANDS {nullptr}
#define BANDS(factor, ...) {__VA_ARGS__}
#define TESSARVANDER_PARAMETER(index, Stem, name, defaultValue, uniform, scaling, easing, bands, units) \
  inline constexpr const char* kBandNames##Stem[] = bands;
#include "Parameters.def"
#undef TESSARVANDER_PARAMETER
#undef NO_BANDS
#undef BANDS
#define NO_BANDS 0.0f
#define BANDS(factor, ...) factor
#define TESSARVANDER_PARAMETER(index, Stem, name, defaultValue, uniform, scaling, easing, bands, units) \
  inline constexpr float kBandFactor##Stem = bands;
#include "Parameters.def"
#undef TESSARVANDER_PARAMETER
#undef PLAIN
#undef DEGREES
#undef COUNT
#undef WEDGES
#define PLAIN {0.0f}
#define DEGREES {0.0f}
#define COUNT(rounding, factor, offset, word) {0.0f}
#define WEDGES(...) {__VA_ARGS__}
#define TESSARVANDER_PARAMETER(index, Stem, name, defaultValue, uniform, scaling, easing, bands, units) \
  inline constexpr float kThresholds##Stem[] = units;
#include "Parameters.def"
#undef TESSARVANDER_PARAMETER
#undef PLAIN
#undef DEGREES
#undef COUNT
#undef WEDGES
#define TESSARVANDER_ROUNDING_floor Rounding::Floor
#define TESSARVANDER_ROUNDING_int Rounding::Truncate
#define PLAIN Units{}
#define DEGREES Units{UnitKind::Degrees}
#define COUNT(rounding, factor, offset, word) Units{UnitKind::Count, TESSARVANDER_ROUNDING_##rounding, factor, offset, word}
#define WEDGES(...) Units{UnitKind::Wedges}
#define TESSARVANDER_PARAMETER(index, Stem, name, defaultValue, uniform, scaling, easing, bands, units) \
  inline constexpr Units kUnits##Stem = units;
#include "Parameters.def"
#undef TESSARVANDER_PARAMETER
#undef TESSARVANDER_ROUNDING_floor
#undef TESSARVANDER_ROUNDING_int
#undef AS_IS
#undef LINEAR
#undef EASED
#undef HELD
#undef NO_BANDS
#undef BANDS
#undef PLAIN
#undef DEGREES
#undef COUNT
#undef WEDGES

constexpr Bands BandsOf(const char* const* names, int count, float factor) {
  return names[0] ? Bands{factor, names, count} : Bands{0.0f, nullptr, 0};
}
constexpr Units UnitsOf(Units units, const float* thresholds, int count) {
  if (units.kind == UnitKind::Wedges) {
    units.thresholds = thresholds;
    units.thresholdCount = count;
  }
  return units;
}
constexpr bool IsNone(const char* uniform) {
  return uniform[0] == 'n' && uniform[1] == 'o' && uniform[2] == 'n' && uniform[3] == 'e' && uniform[4] == 0;
}
template <class T, int N>
constexpr int CountOf(const T (&)[N]) {
  return N;
}

}  // namespace table

#define AS_IS Scaling{0.0f, 1.0f, 0.0f}
#define LINEAR(bias, factor, offset) Scaling{bias, factor, offset}
#define EASED Easing::Eased
#define HELD Easing::Held
#define TESSARVANDER_PARAMETER(index, Stem, name, defaultValue, uniform, scaling, easing, bands, units)  \
  ParameterRow{index,                                                                                 \
               name,                                                                                  \
               defaultValue,                                                                          \
               table::IsNone(#uniform) ? nullptr : #uniform,                                          \
               scaling,                                                                               \
               easing,                                                                                \
               table::BandsOf(table::kBandNames##Stem, table::CountOf(table::kBandNames##Stem),        \
                              table::kBandFactor##Stem),                                              \
               table::UnitsOf(table::kUnits##Stem, table::kThresholds##Stem,                          \
                              table::CountOf(table::kThresholds##Stem))},
inline constexpr ParameterRow kParameterRows[] = {
#include "Parameters.def"
};
#undef TESSARVANDER_PARAMETER
#undef AS_IS
#undef LINEAR
#undef EASED
#undef HELD

inline constexpr uint32_t kParameterCount = sizeof kParameterRows / sizeof kParameterRows[0];

// The index of each parameter by name: param::FractalType is 3.
namespace param {
enum : uint32_t {
#define TESSARVANDER_PARAMETER(index, Stem, ...) Stem = index,
#include "Parameters.def"
#undef TESSARVANDER_PARAMETER
};
}  // namespace param

// Every row stands at its index, and every banded parameter names each of
// the bands its rule can select from 0..1.
constexpr bool TableIsConsistent() {
  for (uint32_t i = 0; i < kParameterCount; ++i) {
    const ParameterRow& row = kParameterRows[i];
    if (row.index != i) return false;
    if (row.bands.count > 0 && row.bands.count != static_cast<int>(1.0f * row.bands.factor) + 1) return false;
  }
  return true;
}
static_assert(TableIsConsistent(), "Parameters.def: rows out of index order, or band names that miss bands");

// ---- Scaling ----------------------------------------------------------------

// The value the render pass gives the shader (or eases toward).
constexpr float Scaled(const Scaling& scaling, float value) {
  float scaled = scaling.bias != 0.0f ? value - scaling.bias : value;
  scaled = scaling.factor != 1.0f ? scaled * scaling.factor : scaled;
  return scaling.offset != 0.0f ? scaled + scaling.offset : scaled;
}

// ---- The profile: values as the shader reads them ----------------------------

// The band the shader draws for this value: int(value * factor), which
// truncates toward zero, and the last band for anything the rule puts
// outside the named ones.
inline int BandOf(const Bands& bands, float value) {
  const float position = value * bands.factor;
  if (!(position > -1.0f) || position >= static_cast<float>(bands.count)) return bands.count - 1;
  return static_cast<int>(position);
}

// A value well inside band k, as a host sets it to choose that band.
inline float BandCentre(const Bands& bands, int band) {
  return (static_cast<float>(band) + 0.5f) / bands.factor;
}

inline int CountOf(const Units& units, float value) {
  const float position = value * units.factor;
  if (!std::isfinite(position) || std::fabs(position) > 1e6f) return units.offset;
  const float whole = units.rounding == Rounding::Floor ? std::floor(position) : std::trunc(position);
  return static_cast<int>(whole) + units.offset;
}

inline int WedgesOf(const Units& units, float value) {
  int wedges = 0;
  for (int i = 0; i < units.thresholdCount; ++i)
    if (value > units.thresholds[i]) wedges = i == 0 ? 2 : wedges * 2;
  return wedges;
}

// What the value means on screen: "Julia", "Fire", "12 branches", "6 layers",
// "8 wedges", "no fold", "216°"; empty for a plain amount.
inline std::string Meaning(const ParameterRow& row, float value) {
  char text[64] = "";
  if (row.bands.count > 0) return row.bands.names[BandOf(row.bands, value)];
  switch (row.units.kind) {
    case UnitKind::Plain:
      break;
    case UnitKind::Degrees:
      std::snprintf(text, sizeof text, "%.0f\u00b0", static_cast<double>(value) * 360.0);
      break;
    case UnitKind::Count:
      std::snprintf(text, sizeof text, "%d %s", CountOf(row.units, value), row.units.word);
      break;
    case UnitKind::Wedges: {
      const int wedges = WedgesOf(row.units, value);
      if (wedges == 0) return "no fold";
      std::snprintf(text, sizeof text, "%d wedges", wedges);
      break;
    }
  }
  return text;
}

// The plugin this profile describes.
inline constexpr const char* kPluginId = "QLMB";

}  // namespace tessarvander
