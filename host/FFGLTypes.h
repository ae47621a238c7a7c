// The few plain types that plugin classes share with the binary interface:
// result values, parameter type codes and the host's viewport. The raw
// function codes and the 64-bit plugMain value stay in FFGL.h, which only the
// entry point and host-side code include.
#pragma once

#include <cstdint>

// Every operation of the interface answers success or failure in 32 bits.
using FFResult = uint32_t;
constexpr FFResult FF_SUCCESS = 0;
constexpr FFResult FF_FAIL = 0xFFFFFFFF;

// Parameter type codes.
constexpr uint32_t FF_TYPE_STANDARD = 10;  // a 32-bit float on the 0..1 scale
constexpr uint32_t FF_TYPE_TEXT = 100;
constexpr uint32_t FF_TYPE_TEXT_ALT = 14;  // string-valued, treated like 100
constexpr uint32_t FF_TYPE_NONE = 0xFFFFFFFF;

inline bool IsTextParameterType(uint32_t type) { return type == FF_TYPE_TEXT || type == FF_TYPE_TEXT_ALT; }

// Plugin type of a source: generates images and takes no input image.
constexpr uint32_t FF_PLUGIN_TYPE_SOURCE = 1;

struct ViewportRecord {
  uint32_t x;
  uint32_t y;
  uint32_t width;
  uint32_t height;
};
static_assert(sizeof(ViewportRecord) == 16, "ViewportRecord is 16 bytes");

// The host's per-frame record. Its fields belong to the host; the plugin only
// checks that one was passed.
struct ProcessRecord;
