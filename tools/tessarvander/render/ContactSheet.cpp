#include "render/ContactSheet.h"

#include <GL/glew.h>

#include <cmath>

#include "hostkit/FrameTarget.h"
#include "render/FrameLoop.h"
#include "sys/Interrupts.h"
#include "sys/Numbers.h"

namespace tool {

bool ParseSheetAxis(const std::string& text, const char* option, const ParameterNames& names, SheetAxis& axis,
                    std::string& error) {
  const size_t equals = text.rfind('=');
  if (equals == std::string::npos || equals == 0) {
    error = std::string(option) + ": \"" + text + "\" is not of the form NAME=V1,V2,...";
    return false;
  }
  if (!names.Resolve(text.substr(0, equals), axis.index, error)) return false;
  axis.name = names.NameOf(axis.index);
  if (!ParseFloatList(text.substr(equals + 1), std::string(option) + " " + axis.name, axis.values, error))
    return false;
  if (axis.values.size() > 64) {
    error = std::string(option) + ": at most 64 values";
    return false;
  }
  return true;
}

bool SheetSize(const SheetSettings& settings, const SheetAxis& across, const SheetAxis& down, int& width, int& height,
               std::string& error) {
  // In 64 bits: the cells' sides come from the command line.
  const long columns = static_cast<long>(across.values.size());
  const long rows = static_cast<long>(down.values.size());
  const long wide = columns * settings.cellWidth + (columns - 1) * settings.gap;
  const long high = rows * settings.cellHeight + (rows - 1) * settings.gap;
  if (settings.cellWidth > kMaxSheetSide || settings.cellHeight > kMaxSheetSide || wide > kMaxSheetSide ||
      high > kMaxSheetSide) {
    error = "the sheet would be " + std::to_string(wide) + "x" + std::to_string(high) + " pixels; at most " +
            std::to_string(kMaxSheetSide) + " a side: fewer values or smaller --cell";
    return false;
  }
  width = static_cast<int>(wide);
  height = static_cast<int>(high);
  return true;
}

bool DrawSheet(const HostSession& session, const ParameterControls& controls, const SheetAxis& across,
               const SheetAxis& down, const SheetSettings& settings, const std::function<void(long)>& progress,
               std::vector<uint8_t>& pixels, bool& interrupted, std::string& error) {
  interrupted = false;
  int width = 0, height = 0;
  if (!SheetSize(settings, across, down, width, height, error)) return false;
  hostkit::FrameTarget sheet;
  if (!sheet.Create(width, height, hostkit::PixelFormat::Rgba8, error)) return false;
  sheet.Bind();
  glClearColor(0.08f, 0.08f, 0.08f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);

  const long warmUpFrames = std::lround(settings.at * settings.framesPerSecond);
  const int columns = static_cast<int>(across.values.size());
  const int rows = static_cast<int>(down.values.size());
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      ParameterControls cellControls = controls;
      cellControls.AddFixed(across.index, across.values[column]);
      cellControls.AddFixed(down.index, down.values[row]);
      const std::vector<ParameterValue> values = cellControls.ValuesAt(1.0);
      FrameLoop cell;
      if (!cell.Start(session, settings.cellWidth, settings.cellHeight, settings.framesPerSecond, error))
        return false;
      for (long frame = 0; frame <= warmUpFrames; ++frame) {
        if (Interrupted()) {
          interrupted = true;
          error = "interrupted; nothing written";
          return false;
        }
        // Row 0 at the top of the picture, which is the top of the frame buffer.
        const bool shown = frame == warmUpFrames;
        const bool processed =
            shown ? cell.DrawInto(sheet, column * (settings.cellWidth + settings.gap),
                                  height - (row + 1) * settings.cellHeight - row * settings.gap, settings.cellWidth,
                                  settings.cellHeight, frame, values)
                  : cell.Advance(frame, values);
        if (!processed) {
          error = "the plugin failed a frame";
          return false;
        }
      }
      progress(static_cast<long>(row) * columns + column + 1);
    }
  }
  pixels = sheet.ReadRgba8();
  return true;
}

}  // namespace tool
