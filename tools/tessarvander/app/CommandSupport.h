// What the commands share: exit codes, error output, and the options of
// every command that loads the plugin (--plugin, --gl, --quiet, --preset,
// --set).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "session/HostSession.h"
#include "formats/ParameterControls.h"
#include "sys/Interrupts.h"
#include "sys/Messages.h"

namespace tool {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// The error that ends a command: one line, as Warn writes it; answers `code`.
int Fail(int code, const std::string& message);

// The options of every command that loads the plugin. Parameter options keep
// the order they were given in: for each parameter the last one wins.
struct SessionFlags {
  std::string plugin;
  std::string gl = "egl";
  std::string device;
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
  // The --device given names a device (or is none). False with one line.
  bool CheckDevice(std::string& error) const;
  std::vector<std::string> ControlsOf(const std::string& kind) const;
};

struct CommandContext {
  std::unique_ptr<HostSession> session;
  std::unique_ptr<ParameterControls> controls;
  const ParameterNames& Names() const { return controls->Names(); }
};
// Opens the session: the plugin and the GL context.
bool OpenSession(const SessionOptions& options, CommandContext& context, std::string& error);
// The preset first, then --set (and, when `allowRamps`, --ramp) in the order
// given, against the plugin's parameters; a failure is a usage error. Other
// kinds are left to the command.
bool ReadControls(const SessionFlags& flags, bool allowRamps, CommandContext& context, std::string& error);

// The looks installed with the program, or those of the source it was built
// from; empty when neither is there.
std::string ShippedBank();

}  // namespace tool
