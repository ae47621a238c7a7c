// tessarvander info: the plugin's identity and its parameters, read the way a
// host reads them.
#include <cstdio>

#include "app/Commands.h"
#include "sys/Messages.h"
#include "app/CommandSupport.h"
#include "hostkit/GlContext.h"
#include "formats/ParameterProfile.h"

namespace tool {
namespace {

const char* TypeName(uint32_t type) {
  if (type == kFloatParameter) return "float";
  if (IsTextParameterType(type)) return "text";
  return "other";
}

class InfoCommand : public Command {
 public:
  CLI::App* Declare(CLI::App& program) override {
    CLI::App* command = program.add_subcommand(
        "info",
        "The plugin's identity and its parameters, read as a host reads them.\n\n"
        "Loads the plugin as a host does and prints its identity and a table of its\n"
        "parameters: index, name, type, default, range and the text the plugin\n"
        "shows for the current value (after --preset and --set).\n");
    command->add_option("PLUGIN", pluginPath, "the plugin (default: the one built here)");
    command->add_flag("--devices", listDevices, "list the EGL devices --device can draw on, with their renderers");
    flags.Declare(*command);
    return command;
  }

  int Run() override {
    std::string error;
    if (listDevices) {
      std::vector<hostkit::EglDevice> devices;
      if (!hostkit::ListEglDevices(devices, error)) return Fail(kExitFailure, error);
      for (const hostkit::EglDevice& device : devices)
        std::printf("%d  %-9s %-14s %s\n", device.index, device.software ? "software" : "hardware",
                    device.file.empty() ? "-" : Printable(device.file).c_str(), Printable(device.renderer).c_str());
      return kExitSuccess;
    }
    if (!pluginPath.empty()) flags.plugin = pluginPath;
    CommandContext context;
    if (!flags.CheckDevice(error)) return Fail(kExitUsage, error);
    if (!OpenSession(flags.Options(), context, error)) return Fail(kExitFailure, error);
    if (!ReadControls(flags, false, context, error)) return Fail(kExitUsage, error);
  const HostSession& session = *context.session;
  const PluginDescription& plugin = session.Description();

  std::printf("Plugin       %s\n", Printable(session.Library().Path(), 300).c_str());
  std::printf("Id           %s\n", Printable(plugin.uniqueId, 300).c_str());
  std::printf("Name         %s\n", Printable(plugin.name, 300).c_str());
  std::printf("Type         %u (%s)\n", plugin.pluginType, plugin.pluginType == 1 ? "source" : "effect");
  std::printf("API          %u.%u\n", plugin.apiMajorVersion, plugin.apiMinorVersion);
  std::printf("Version      %u.%u\n", plugin.pluginMajorVersion, plugin.pluginMinorVersion);
  std::printf("Description  %s\n", Printable(plugin.description, 300).c_str());
  std::printf("About        %s\n", Printable(plugin.about, 300).c_str());
  std::printf("GL           %s\n\n", session.BackendName());

  auto instance = session.CreateInstance(64, 64, error);
  if (!instance) return Fail(kExitFailure, error);
  for (const ParameterValue& value : context.controls->ValuesAt(0.0))
    instance->SetParameter(value.index, value.value);

  // What each value means on screen, when this plugin's table is known.
  const ParameterProfile profile = ParameterProfile::For(plugin);
  std::printf("%3s  %-14s %-5s %8s  %-9s %-10s %s\n", "#", "Name", "Type", "Default", "Range", "Display",
              profile.Known() ? "Meaning" : "");
  for (const ParameterDescription& parameter : session.Parameters()) {
    char range[32];
    std::snprintf(range, sizeof range, "%g..%g", static_cast<double>(parameter.minimum),
                  static_cast<double>(parameter.maximum));
    const float value = instance->GetParameter(parameter.index);
    std::printf("%3u  %-14s %-5s %8.4g  %-9s %-10s %s\n", parameter.index, Printable(parameter.name, 60).c_str(),
                TypeName(parameter.type), static_cast<double>(parameter.defaultValue), range,
                Printable(instance->DisplayText(parameter.index), 60).c_str(), profile.Meaning(parameter.index, value).c_str());
  }
  return kExitSuccess;
  }

 private:
  SessionFlags flags;
  std::string pluginPath;
  bool listDevices = false;
};

}  // namespace

std::unique_ptr<Command> MakeInfoCommand() { return std::make_unique<InfoCommand>(); }

}  // namespace tool
