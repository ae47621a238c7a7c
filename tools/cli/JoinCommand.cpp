// tessarvander join: placeholder, filled in below.
#include "Commands.h"
#include "CommandSupport.h"

namespace cli {
namespace {
class JoinCommand : public Command {
 public:
  CLI::App* Declare(CLI::App& program) override { return program.add_subcommand("join", "Joins render segments."); }
  int Run() override { return Fail(kExitFailure, "join is not built yet"); }
};
}  // namespace
std::unique_ptr<Command> MakeJoinCommand() { return std::make_unique<JoinCommand>(); }
}  // namespace cli
