// What the subcommands share: exit codes, error output, interruption, the
// options every command takes (--plugin, --gl, --quiet, --set), and the
// cheap warm-up that runs the plugin's clock ahead.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "FrameTarget.h"
#include "HostSession.h"
#include "ParameterControls.h"

namespace cli {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// "tessarvander: <message>" on standard error; answers `code`.
int Fail(int code, const std::string& message);

// Ctrl-C and SIGTERM set a flag that the render loops check; a broken pipe
// becomes a write error instead of killing the process.
void InstallInterruptHandlers();
bool Interrupted();

// The options of every command that loads the plugin.
std::vector<OptionSpec> SessionOptionSpecs();
bool ReadSessionOptions(const ParsedOptions& parsed, SessionOptions& options, std::string& error);

struct CommandContext {
  std::unique_ptr<HostSession> session;
  std::unique_ptr<ParameterControls> controls;
};
// Opens the session: the plugin and the GL context.
bool OpenSession(const SessionOptions& options, CommandContext& context, std::string& error);
// Reads --set (and, when `allowRamps`, --ramp) against the plugin's
// parameters; a failure is a usage error.
bool ReadControls(const ParsedOptions& parsed, bool allowRamps, CommandContext& context, std::string& error);

// Runs `frames` frames at a 1x1 viewport into `scratch`: the clock and the
// eased values advance exactly as in full frames, at almost no cost.
bool AdvanceFrames(FrameDriver& driver, hostkit::FrameTarget& scratch, long firstFrame, long frames);

}  // namespace cli
