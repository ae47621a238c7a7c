// What the commands share: exit codes, error output, interruption, the
// options of every command that loads the plugin (--plugin, --gl, --quiet,
// --preset, --set), and the cheap warm-up that runs the plugin's clock ahead.
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

// The options of every command that loads the plugin. Parameter options keep
// the order they were given in: for each parameter the last one wins.
struct SessionFlags {
  std::string plugin;
  std::string gl = "egl";
  bool quiet = false;
  std::string preset;
  // ("set" | "ramp" | ..., the option's text), in command-line order.
  std::vector<std::pair<std::string, std::string>> controls;

  // Declares --plugin, --gl (unless the command draws into a window),
  // --quiet, --preset and --set on the command.
  void Declare(CLI::App& command, bool offscreen = true);
  // Declares a parameter option of another kind (--ramp, --react) that keeps
  // its place among the --set options.
  CLI::Option* DeclareControl(CLI::App& command, const std::string& kind, const std::string& name,
                              const std::string& description);
  SessionOptions Options() const;
  std::vector<std::string> ControlsOf(const std::string& kind) const;
};

struct CommandContext {
  std::unique_ptr<HostSession> session;
  std::unique_ptr<ParameterControls> controls;
};
// Opens the session: the plugin and the GL context.
bool OpenSession(const SessionOptions& options, CommandContext& context, std::string& error);
// The preset first, then --set (and, when `allowRamps`, --ramp) in the order
// given, against the plugin's parameters; a failure is a usage error. Other
// kinds are left to the command.
bool ReadControls(const SessionFlags& flags, bool allowRamps, CommandContext& context, std::string& error);

// Runs `frames` frames at a 1x1 viewport into `scratch`: the clock and the
// eased values advance exactly as in full frames, at almost no cost.
// `valuesOf(frame, values)` gives each frame's parameter values.
template <class ValuesOf>
bool AdvanceFrames(FrameDriver& driver, hostkit::FrameTarget& scratch, long firstFrame, long frames,
                   ValuesOf valuesOf);
// Binds the one-pixel frame buffer that such frames are drawn into.
void PrepareScratchFrame(hostkit::FrameTarget& scratch);

template <class ValuesOf>
bool AdvanceFrames(FrameDriver& driver, hostkit::FrameTarget& scratch, long firstFrame, long frames,
                   ValuesOf valuesOf) {
  std::vector<ParameterControls::Value> values;
  for (long frame = firstFrame; frame < firstFrame + frames; ++frame) {
    if (Interrupted()) return false;
    PrepareScratchFrame(scratch);
    valuesOf(frame, values);
    if (!driver.Process(frame, values)) return false;
  }
  return true;
}

}  // namespace cli
