// A contact sheet: a grid of stills over two parameters, one plugin instance
// per cell, all at the same moment of the flight, drawn into one picture.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "session/HostSession.h"
#include "formats/ParameterControls.h"

namespace tool {

struct SheetAxis {
  uint32_t index = 0;
  std::string name;
  std::vector<float> values;
};

struct SheetSettings {
  int cellWidth = 240;
  int cellHeight = 135;
  int gap = 2;
  double at = 2.0;  // seconds into the flight
  double framesPerSecond = 60.0;
};

// The most pixels a side of a sheet may have.
constexpr long kMaxSheetSide = 16384;

// "NAME=V1,V2,...", at most 64 values. False with one line naming `option`.
bool ParseSheetAxis(const std::string& text, const char* option, const ParameterNames& names, SheetAxis& axis,
                    std::string& error);

// The sheet's size in pixels; false with one line when a side would pass
// kMaxSheetSide.
bool SheetSize(const SheetSettings& settings, const SheetAxis& across, const SheetAxis& down, int& width, int& height,
               std::string& error);

// Draws every cell, row 0 at the top; RGBA pixels, bottom row first. False
// with one line when the plugin fails, or when interrupted (`interrupted`).
// `progress(cellsDone)` after each cell.
bool DrawSheet(const HostSession& session, const ParameterControls& controls, const SheetAxis& across,
               const SheetAxis& down, const SheetSettings& settings, const std::function<void(long)>& progress,
               std::vector<uint8_t>& pixels, bool& interrupted, std::string& error);

}  // namespace tool
