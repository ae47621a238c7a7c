// The commands of the tessarvander program. Each declares its options on a
// subcommand of the program and, when it is the one given, runs from them
// and answers the process exit code.
#pragma once

#include <memory>

#include "app/CommandLine.h"

namespace tool {

class Command {
 public:
  virtual ~Command() = default;
  // Adds the command and its options to the program; answers the subcommand.
  virtual CLI::App* Declare(CLI::App& program) = 0;
  virtual int Run() = 0;
};

std::unique_ptr<Command> MakeInfoCommand();
std::unique_ptr<Command> MakeRenderCommand();
std::unique_ptr<Command> MakeSheetCommand();
std::unique_ptr<Command> MakePlayCommand();
std::unique_ptr<Command> MakeJoinCommand();
std::unique_ptr<Command> MakeFarmCommand();
std::unique_ptr<Command> MakeDirectCommand();
std::unique_ptr<Command> MakeBeatsCommand();

}  // namespace tool
