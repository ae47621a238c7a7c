// tessarvander sheet: one PNG contact sheet, a grid of stills over two
// parameters (the four fractal types across and the ten palettes down, unless
// the user picks another grid), all at the same moment of the flight.
#include <GL/glew.h>

#include <cmath>
#include <cstdio>

#include "Commands.h"
#include "CommandSupport.h"
#include "FrameSinks.h"
#include "Progress.h"

namespace cli {
namespace {

const char* kSheetHelp =
    "usage: tessarvander sheet -o SHEET.png [OPTIONS]\n"
    "\n"
    "Renders a grid of stills, one plugin instance per cell, all at the same\n"
    "moment of the flight, and writes them as one PNG.\n"
    "\n"
    "options:\n"
    "  -o, --output PATH        the PNG to write (required)\n"
    "  --across NAME=V1,V2,...  the parameter and values of the columns\n"
    "                           (default: the four fractal types)\n"
    "  --down NAME=V1,V2,...    the parameter and values of the rows\n"
    "                           (default: the ten colour palettes)\n"
    "  --cell WxH               size of one still (default 240x135)\n"
    "  --gap PIXELS             dark space between the stills (default 2)\n"
    "  --at SECONDS             the moment of the flight shown (default 2)\n"
    "  --fps N                  frames per second of the flight (default 60)\n"
    "  --set NAME=VALUE         a parameter for every cell; repeatable\n"
    "  --png-level N            PNG compression level 0 to 9 (default 1)\n"
    "  --gl egl|glx, --plugin PATH, -q/--quiet   as for render\n"
    "\n"
    "example:\n"
    "  tessarvander sheet -o mirrors.png --across mirror=0,0.2,0.4,0.6,0.8 \\\n"
    "      --down \"fractal type\"=0.1,0.4,0.6,0.9 --set brightness=0.9\n";

// Values that select fractal types 0 to 3 and palettes 0 to 9, each in the
// middle of its band.
const char* kDefaultAcross = "Fractal Type=0.125,0.375,0.625,0.875";
const char* kDefaultDown = "Color Mode=0.05,0.15,0.25,0.35,0.45,0.55,0.65,0.75,0.85,0.95";

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

}  // namespace

int RunSheet(const std::vector<std::string>& arguments) {
  std::vector<OptionSpec> specs = SessionOptionSpecs();
  const std::vector<OptionSpec> own = {{"output", "o", true}, {"across", nullptr, true}, {"down", nullptr, true},
                                       {"cell", nullptr, true}, {"gap", nullptr, true},  {"at", nullptr, true},
                                       {"fps", nullptr, true},  {"png-level", nullptr, true}, {"help", "h", false}};
  specs.insert(specs.end(), own.begin(), own.end());
  ParsedOptions parsed;
  std::string error;
  if (!ParseOptions(arguments, specs, parsed, error)) return Fail(kExitUsage, error);
  if (parsed.Has("help")) {
    std::fputs(kSheetHelp, stdout);
    return kExitSuccess;
  }
  if (!parsed.positionals.empty()) return Fail(kExitUsage, "unexpected argument \"" + parsed.positionals[0] + "\"");
  const std::string output = parsed.Value("output");
  OutputKind kind;
  if (output.empty()) return Fail(kExitUsage, "sheet needs an output: -o SHEET.png");
  if (!OutputKindOf(output, kind, error)) return Fail(kExitUsage, error);
  if (kind != OutputKind::Still) return Fail(kExitUsage, "a contact sheet is one PNG: -o SHEET.png");

  int cellWidth = 240, cellHeight = 135;
  long gap = 2;
  double at = 2.0, framesPerSecond = 60.0;
  PngOptions png;
  long level = png.compressionLevel;
  if ((parsed.Has("cell") && !ParseSize(parsed.Value("cell"), "--cell", cellWidth, cellHeight, error)) ||
      (parsed.Has("gap") && !ParseInt(parsed.Value("gap"), "--gap", 0, 64, gap, error)) ||
      (parsed.Has("at") && !ParseDouble(parsed.Value("at"), "--at", at, error)) ||
      (parsed.Has("fps") && !ParseDouble(parsed.Value("fps"), "--fps", framesPerSecond, error)) ||
      (parsed.Has("png-level") && !ParseInt(parsed.Value("png-level"), "--png-level", 0, 9, level, error)))
    return Fail(kExitUsage, error);
  if (at < 0.0 || framesPerSecond <= 0.0 || framesPerSecond > 1000.0)
    return Fail(kExitUsage, "--at must be 0 or more and --fps between 0 and 1000");
  png.compressionLevel = static_cast<int>(level);
  SessionOptions sessionOptions;
  if (!ReadSessionOptions(parsed, sessionOptions, error)) return Fail(kExitUsage, error);

  CommandContext context;
  if (!OpenSession(sessionOptions, context, error)) return Fail(kExitFailure, error);
  Axis across, down;
  if (!ReadControls(parsed, false, context, error) ||
      !ReadAxis(parsed.Value("across", kDefaultAcross), "--across", *context.controls, across, error) ||
      !ReadAxis(parsed.Value("down", kDefaultDown), "--down", *context.controls, down, error))
    return Fail(kExitUsage, error);

  const int columns = static_cast<int>(across.values.size());
  const int rows = static_cast<int>(down.values.size());
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
  Progress progress("sheet", static_cast<long>(rows) * columns, !parsed.Has("quiet"));
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      if (Interrupted()) return Fail(kExitInterrupted, "interrupted; nothing written");
      ParameterControls cell = *context.controls;
      cell.AddSet(std::to_string(across.index) + "=" + std::to_string(across.values[column]), error);
      cell.AddSet(std::to_string(down.index) + "=" + std::to_string(down.values[row]), error);
      auto instance = context.session->CreateInstance(cellWidth, cellHeight, error);
      if (!instance) return Fail(kExitFailure, error);
      FrameDriver driver(*instance, cell, framesPerSecond);
      if (!AdvanceFrames(driver, scratch, 0, warmUpFrames))
        return Interrupted() ? Fail(kExitInterrupted, "interrupted; nothing written")
                             : Fail(kExitFailure, "the plugin failed a frame");
      // Row 0 at the top of the picture, which is the top of the frame buffer.
      glBindFramebuffer(GL_FRAMEBUFFER, sheet.FrameBuffer());
      glViewport(column * (cellWidth + static_cast<int>(gap)),
                 height - (row + 1) * cellHeight - row * static_cast<int>(gap), cellWidth, cellHeight);
      if (!driver.Process(warmUpFrames, 1.0)) return Fail(kExitFailure, "the plugin failed a frame");
      progress.Update(static_cast<long>(row) * columns + column + 1);
    }
  }
  progress.Finish();
  const std::vector<uint8_t> pixels = sheet.ReadRgba8();
  if (!sink.Write(pixels.data(), 0, error) || !sink.Finish(error)) return Fail(kExitFailure, error);
  if (!parsed.Has("quiet")) {
    std::printf("wrote %s: %d x %d stills at %g s\n", sink.Describe().c_str(), columns, rows, at);
    std::printf("  across: %s = %s\n", across.name.c_str(), Listed(across.values).c_str());
    std::printf("  down:   %s = %s\n", down.name.c_str(), Listed(down.values).c_str());
  }
  return kExitSuccess;
}

}  // namespace cli
