// tessarvander: a small FFGL host for the command line. It loads the plugin
// exactly as a live-video host does and renders its frames offscreen, on any
// Linux machine, with or without a GPU or a display.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Commands.h"
#include "CommandSupport.h"

namespace {

const char* kHelp =
    "usage: tessarvander COMMAND [OPTIONS]\n"
    "\n"
    "A command-line host for the Tessarvander FFGL plugin: renders the flight\n"
    "offscreen (EGL without a display by default, or GLX) to PNG or MP4.\n"
    "\n"
    "commands:\n"
    "  info     the plugin's identity and parameters\n"
    "  render   frames to a PNG still, a PNG sequence or an MP4 video\n"
    "  sheet    a contact sheet: a grid of stills over two parameters\n"
    "\n"
    "Run 'tessarvander COMMAND --help' for a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
  cli::InstallInterruptHandlers();
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    std::fputs(kHelp, stdout);
    return argc < 2 ? cli::kExitUsage : cli::kExitSuccess;
  }
  const std::string command = argv[1];
  const std::vector<std::string> arguments(argv + 2, argv + argc);
  if (command == "info") return cli::RunInfo(arguments);
  if (command == "render") return cli::RunRender(arguments);
  if (command == "sheet") return cli::RunSheet(arguments);
  return cli::Fail(cli::kExitUsage, "unknown command \"" + command + "\" (see tessarvander --help)");
}
