// tessarvander: a small FFGL host for the command line and for the stage. It
// loads the plugin exactly as a live-video host does and renders its frames
// offscreen, on any Linux machine, with or without a GPU or a display, or
// plays it live in a window.
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/Commands.h"
#include "app/CommandSupport.h"

int main(int argc, char** argv) {
  tool::InstallInterruptHandlers();
  CLI::App program(
      "A host for the Tessarvander FFGL plugin: renders the flight offscreen (EGL\n"
      "without a display by default, or GLX) to PNG or video, or plays it live.\n",
      "tessarvander");
  program.formatter(tool::HelpFormatter());
  program.require_subcommand(1);
  program.footer("Run 'tessarvander COMMAND --help' for a command's options.");

  std::vector<std::unique_ptr<tool::Command>> commands;
  commands.push_back(tool::MakeInfoCommand());
  commands.push_back(tool::MakeRenderCommand());
  commands.push_back(tool::MakeDirectCommand());
  commands.push_back(tool::MakeBeatsCommand());
  commands.push_back(tool::MakeSheetCommand());
  commands.push_back(tool::MakePlayCommand());
  commands.push_back(tool::MakeJoinCommand());
  commands.push_back(tool::MakeFarmCommand());
  std::map<CLI::App*, tool::Command*> bySubcommand;
  for (auto& command : commands) {
    CLI::App* subcommand = command->Declare(program);
    subcommand->formatter(tool::HelpFormatter());
    bySubcommand[subcommand] = command.get();
  }

  if (argc < 2) {
    std::fputs(program.help().c_str(), stdout);
    return tool::kExitUsage;
  }
  try {
    program.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return program.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return program.exit(help);
  } catch (const CLI::ParseError& error) {
    std::string message = error.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
      // "The following arguments were not expected: extra --bogus"
      std::istringstream extras(message.substr(message.find(':') + 1));
      std::string extra, first, option;
      while (extras >> extra) {
        if (first.empty()) first = extra;
        if (option.empty() && extra.rfind('-', 0) == 0) option = extra;
      }
      message = option.empty() ? "unexpected argument " + first : "unknown option " + option;
    } else if (argc > 1 && std::string(argv[1]).rfind('-', 0) != 0 &&
               dynamic_cast<const CLI::RequiredError*>(&error) && program.get_subcommands().empty()) {
      message = std::string("unknown command \"") + argv[1] + "\"";
    }
    const std::string command = program.get_subcommands().empty() ? "" : program.get_subcommands().front()->get_name() + " ";
    return tool::Fail(tool::kExitUsage, message + " (see tessarvander " + command + "--help)");
  }
  // Nothing a command meets may end the program without its one line: a
  // document that slipped past its reader is bad input, anything else a
  // failure.
  try {
    for (CLI::App* subcommand : program.get_subcommands()) return bySubcommand[subcommand]->Run();
  } catch (const nlohmann::json::exception& problem) {
    return tool::Fail(tool::kExitUsage, std::string("a document could not be read: ") + problem.what());
  } catch (const std::exception& problem) {
    return tool::Fail(tool::kExitFailure, problem.what());
  }
  return tool::kExitUsage;
}
