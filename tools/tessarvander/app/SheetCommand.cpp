// tessarvander sheet: one PNG contact sheet, a grid of stills over two
// parameters (the four fractal types across and the ten palettes down, unless
// the user picks another grid), all at the same moment of the flight.
#include <cmath>
#include <cstdio>

#include "sys/Messages.h"
#include "app/Commands.h"
#include "app/CommandSupport.h"
#include "output/OutputKind.h"
#include "output/StillSink.h"
#include "session/FrameDriver.h"
#include "formats/ParameterProfile.h"
#include "render/ContactSheet.h"
#include "ParameterTable.h"
#include "app/Progress.h"

namespace tool {
namespace {

const char* kSheetDescription =
    "A contact sheet: a grid of stills over two parameters, as one PNG.\n\n"
    "Renders a grid of stills, one plugin instance per cell, all at the same\n"
    "moment of the flight, and writes them as one PNG.\n";

const char* kSheetExamples =
    "example:\n"
    "  tessarvander sheet -o mirrors.png --across mirror=0,0.2,0.4,0.6,0.8 \\\n"
    "      --down \"fractal type\"=0.1,0.4,0.6,0.9 --set brightness=0.9\n";

// Every band of a banded parameter, as NAME=V1,V2,...: by default the fractal
// types across and the palettes down, when the plugin's profile is known.
bool EveryChoiceOf(const HostSession& session, uint32_t index, std::string& text) {
  const std::vector<Choice> choices = ParameterProfile::For(session.Description()).Choices(index);
  if (choices.empty()) return false;
  text = std::to_string(index) + "=";
  for (const Choice& choice : choices) text += (text.back() == '=' ? "" : ",") + std::to_string(choice.value);
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
    command->add_option("--gap", settings.gap, "dark space between the stills, in pixels")->check(Within(0, 64))->capture_default_str();
    command->add_option("--at", settings.at, "the moment of the flight shown, in seconds")->check(Within(0, 1e7))->capture_default_str();
    command->add_option("--fps", settings.framesPerSecond, "frames per second of the flight")
        ->check(Within(kMinFramesPerSecond, kMaxFramesPerSecond))
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

    CommandContext context;
    if (!flags.CheckDevice(error)) return Fail(kExitUsage, error);
    if (!OpenSession(flags.Options(), context, error)) return Fail(kExitFailure, error);
    if (!ReadControls(flags, false, context, error)) return Fail(kExitUsage, error);
    std::string acrossText = across, downText = down;
    if ((across.empty() && !EveryChoiceOf(*context.session, tessarvander::param::FractalType, acrossText)) ||
        (down.empty() && !EveryChoiceOf(*context.session, tessarvander::param::ColorMode, downText)))
      return Fail(kExitUsage, "this plugin's bands are not known: give --across and --down");
    SheetAxis columnAxis, rowAxis;
    int width = 0, height = 0;
    settings.cellWidth = cell.width;
    settings.cellHeight = cell.height;
    if (!ParseSheetAxis(acrossText, "--across", context.Names(), columnAxis, error) ||
        !ParseSheetAxis(downText, "--down", context.Names(), rowAxis, error) ||
        !SheetSize(settings, columnAxis, rowAxis, width, height, error))
      return Fail(kExitUsage, error);

    PngStillSink sink;
    if (!sink.Start(output, width, height, png, error)) return Fail(kExitFailure, error);
    const long cells = static_cast<long>(columnAxis.values.size() * rowAxis.values.size());
    Progress progress("sheet", cells, !flags.quiet);
    std::vector<uint8_t> pixels;
    bool interrupted = false;
    if (!DrawSheet(*context.session, *context.controls, columnAxis, rowAxis, settings,
                   [&](long done) { progress.Update(done); }, pixels, interrupted, error))
      return Fail(interrupted ? kExitInterrupted : kExitFailure, error);
    progress.Finish();
    if (!sink.Write(pixels.data(), 0, error) || !sink.Finish(error)) return Fail(kExitFailure, error);
    if (!flags.quiet) {
      std::printf("wrote %s: %zu x %zu stills at %g s\n", Printable(sink.Describe(), 500).c_str(), columnAxis.values.size(),
                  rowAxis.values.size(), settings.at);
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
  SheetSettings settings;
  PngOptions png;
};

}  // namespace

std::unique_ptr<Command> MakeSheetCommand() { return std::make_unique<SheetCommand>(); }

}  // namespace tool
