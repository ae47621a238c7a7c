// tessarvander sheet: one PNG contact sheet, a grid of stills over two
// parameters (the four fractal types across and the ten palettes down, unless
// the user picks another grid), all at the same moment of the flight.
#include <GL/glew.h>

#include <cmath>
#include <cstdio>

#include "Commands.h"
#include "CommandSupport.h"
#include "FrameSinks.h"
#include "ParameterChoices.h"
#include "Progress.h"

namespace cli {
namespace {

const char* kSheetDescription =
    "A contact sheet: a grid of stills over two parameters, as one PNG.\n\n"
    "Renders a grid of stills, one plugin instance per cell, all at the same\n"
    "moment of the flight, and writes them as one PNG.\n";

const char* kSheetExamples =
    "example:\n"
    "  tessarvander sheet -o mirrors.png --across mirror=0,0.2,0.4,0.6,0.8 \\\n"
    "      --down \"fractal type\"=0.1,0.4,0.6,0.9 --set brightness=0.9\n";

// Every choice of a banded parameter, as NAME=V1,V2,...: by default the
// fractal types across and the palettes down.
std::string EveryChoiceOf(const std::string& parameter) {
  std::string text = parameter + "=";
  for (const Choice& choice : ChoicesOf(parameter))
    text += (text.back() == '=' ? "" : ",") + std::to_string(choice.value);
  return text;
}

struct Axis {
  uint32_t index = 0;
  std::string name;
  std::vector<float> values;
};

bool ReadAxis(const std::string& text, const char* option, const ParameterControls& controls, Axis& axis,
              std::string& error) {
  const size_t equals = text.rfind('=');
  if (equals == std::string::npos || equals == 0) {
    error = std::string(option) + ": \"" + text + "\" is not of the form NAME=V1,V2,...";
    return false;
  }
  if (!controls.Resolve(text.substr(0, equals), axis.index, error)) return false;
  axis.name = controls.NameOf(axis.index);
  if (!ParseFloatList(text.substr(equals + 1), std::string(option) + " " + axis.name, axis.values, error))
    return false;
  if (axis.values.size() > 64) {
    error = std::string(option) + ": at most 64 values";
    return false;
  }
  return true;
}

std::string Listed(const std::vector<float>& values) {
  std::string text;
  char number[32];
  for (float value : values) {
    std::snprintf(number, sizeof number, "%g", static_cast<double>(value));
    text += (text.empty() ? "" : ", ") + std::string(number);
  }
  return text;
}

class SheetCommand : public Command {
 public:
  CLI::App* Declare(CLI::App& program) override {
    CLI::App* command = program.add_subcommand("sheet", kSheetDescription);
    command->footer(kSheetExamples);
    command->add_option("-o,--output", output, "the PNG to write (required)")->type_name("PATH");
    command->add_option("--across", across, "the parameter and values of the columns (default: the four fractal types)")
        ->type_name("NAME=V1,V2,...");
    command->add_option("--down", down, "the parameter and values of the rows (default: the ten colour palettes)")
        ->type_name("NAME=V1,V2,...");
    AddSizeOption(*command, "--cell", cell, "size of one still (default 240x135)");
    command->add_option("--gap", gap, "dark space between the stills, in pixels")->check(Within(0, 64))->capture_default_str();
    command->add_option("--at", at, "the moment of the flight shown, in seconds")->check(Within(0, 1e7))->capture_default_str();
    command->add_option("--fps", framesPerSecond, "frames per second of the flight")
        ->check(Within(0.001, 1000))
        ->capture_default_str();
    command->add_option("--png-level", png.compressionLevel, "PNG compression level")->check(Within(0, 9))->capture_default_str();
    flags.Declare(*command);
    return command;
  }

  int Run() override {
    std::string error;
    OutputKind kind;
    if (output.empty()) return Fail(kExitUsage, "sheet needs an output: -o SHEET.png");
    if (!OutputKindOf(output, kind, error)) return Fail(kExitUsage, error);
    if (kind != OutputKind::Still) return Fail(kExitUsage, "a contact sheet is one PNG: -o SHEET.png");
    const int cellWidth = cell.width, cellHeight = cell.height;

  CommandContext context;
  if (!OpenSession(flags.Options(), context, error)) return Fail(kExitFailure, error);
  Axis columnAxis, rowAxis;
  if (!ReadControls(flags, false, context, error) ||
      !ReadAxis(across.empty() ? EveryChoiceOf("Fractal Type") : across, "--across", *context.controls, columnAxis,
                error) ||
      !ReadAxis(down.empty() ? EveryChoiceOf("Color Mode") : down, "--down", *context.controls, rowAxis, error))
    return Fail(kExitUsage, error);

  const int columns = static_cast<int>(columnAxis.values.size());
  const int rows = static_cast<int>(rowAxis.values.size());
  const int width = columns * cellWidth + (columns - 1) * static_cast<int>(gap);
  const int height = rows * cellHeight + (rows - 1) * static_cast<int>(gap);
  PngStillSink sink;
  if (!sink.Start(output, width, height, png, error)) return Fail(kExitFailure, error);
  hostkit::FrameTarget sheet, scratch;
  if (!sheet.Create(width, height, hostkit::PixelFormat::Rgba8, error) ||
      !scratch.Create(1, 1, hostkit::PixelFormat::Rgba8, error))
    return Fail(kExitFailure, error);
  sheet.Bind();
  glClearColor(0.08f, 0.08f, 0.08f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);

  const long warmUpFrames = std::lround(at * framesPerSecond);
  Progress progress("sheet", static_cast<long>(rows) * columns, !flags.quiet);
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      if (Interrupted()) return Fail(kExitInterrupted, "interrupted; nothing written");
      ParameterControls cellControls = *context.controls;
      cellControls.AddFixed(columnAxis.index, columnAxis.values[column]);
      cellControls.AddFixed(rowAxis.index, rowAxis.values[row]);
      const std::vector<ParameterControls::Value> values = cellControls.ValuesAt(1.0);
      auto instance = context.session->CreateInstance(cellWidth, cellHeight, error);
      if (!instance) return Fail(kExitFailure, error);
      FrameDriver driver(*instance, framesPerSecond);
      const auto cellValues = [&](long, std::vector<ParameterControls::Value>& frameValues) { frameValues = values; };
      if (!AdvanceFrames(driver, scratch, 0, warmUpFrames, cellValues))
        return Interrupted() ? Fail(kExitInterrupted, "interrupted; nothing written")
                             : Fail(kExitFailure, "the plugin failed a frame");
      // Row 0 at the top of the picture, which is the top of the frame buffer.
      glBindFramebuffer(GL_FRAMEBUFFER, sheet.FrameBuffer());
      glViewport(column * (cellWidth + static_cast<int>(gap)),
                 height - (row + 1) * cellHeight - row * static_cast<int>(gap), cellWidth, cellHeight);
      if (!driver.Process(warmUpFrames, values)) return Fail(kExitFailure, "the plugin failed a frame");
      progress.Update(static_cast<long>(row) * columns + column + 1);
    }
  }
  progress.Finish();
  const std::vector<uint8_t> pixels = sheet.ReadRgba8();
  if (!sink.Write(pixels.data(), 0, error) || !sink.Finish(error)) return Fail(kExitFailure, error);
  if (!flags.quiet) {
    std::printf("wrote %s: %d x %d stills at %g s\n", sink.Describe().c_str(), columns, rows, at);
    std::printf("  across: %s = %s\n", columnAxis.name.c_str(), Listed(columnAxis.values).c_str());
    std::printf("  down:   %s = %s\n", rowAxis.name.c_str(), Listed(rowAxis.values).c_str());
  }
  return kExitSuccess;
  }

 private:
  SessionFlags flags;
  std::string output;
  std::string across;
  std::string down;
  FrameSize cell{240, 135};
  int gap = 2;
  double at = 2.0;
  double framesPerSecond = 60.0;
  PngOptions png;
};

}  // namespace

std::unique_ptr<Command> MakeSheetCommand() { return std::make_unique<SheetCommand>(); }

}  // namespace cli
