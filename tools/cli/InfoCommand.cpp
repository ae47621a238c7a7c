// tessarvander info: the plugin's identity and its parameters, read the way a
// host reads them.
#include <cstdio>

#include "Commands.h"
#include "CommandSupport.h"

namespace cli {
namespace {

const char* kInfoHelp =
    "usage: tessarvander info [PLUGIN] [--plugin PATH] [--gl egl|glx]\n"
    "\n"
    "Loads the plugin as a host does and prints its identity and a table of\n"
    "its parameters: index, name, type, default, range and the text the plugin\n"
    "shows for the current value. PLUGIN defaults to the one built in this tree.\n";

const char* TypeName(uint32_t type) {
  switch (type) {
    case 10:
      return "float";
    case 100:
    case 14:
      return "text";
    default:
      return "other";
  }
}

}  // namespace

int RunInfo(const std::vector<std::string>& arguments) {
  std::vector<OptionSpec> specs = SessionOptionSpecs();
  specs.push_back({"help", "h", false});
  ParsedOptions parsed;
  std::string error;
  if (!ParseOptions(arguments, specs, parsed, error)) return Fail(kExitUsage, error);
  if (parsed.Has("help")) {
    std::fputs(kInfoHelp, stdout);
    return kExitSuccess;
  }
  if (parsed.positionals.size() > 1) return Fail(kExitUsage, "info takes one plugin path at most");
  if (parsed.positionals.size() == 1) parsed.options.emplace_back("plugin", parsed.positionals[0]);
  SessionOptions sessionOptions;
  if (!ReadSessionOptions(parsed, sessionOptions, error)) return Fail(kExitUsage, error);

  CommandContext context;
  if (!OpenSession(sessionOptions, context, error)) return Fail(kExitFailure, error);
  if (!ReadControls(parsed, false, context, error)) return Fail(kExitUsage, error);
  const HostSession& session = *context.session;
  const hostkit::PluginDescription& plugin = session.Description();

  std::printf("Plugin       %s\n", session.Library().Path().c_str());
  std::printf("Id           %s\n", plugin.uniqueId.c_str());
  std::printf("Name         %s\n", plugin.name.c_str());
  std::printf("Type         %u (%s)\n", plugin.pluginType, plugin.pluginType == 1 ? "source" : "effect");
  std::printf("API          %u.%u\n", plugin.apiMajorVersion, plugin.apiMinorVersion);
  std::printf("Version      %u.%u\n", plugin.pluginMajorVersion, plugin.pluginMinorVersion);
  std::printf("Description  %s\n", plugin.description.c_str());
  std::printf("About        %s\n", plugin.about.c_str());
  std::printf("GL           %s\n\n", hostkit::GlBackendName(session.Backend()));

  auto instance = session.CreateInstance(64, 64, error);
  if (!instance) return Fail(kExitFailure, error);
  for (const ParameterControls::Value& value : context.controls->ValuesAt(0.0))
    instance->SetParameter(value.index, value.value);

  std::printf("%3s  %-14s %-5s %8s  %-9s %s\n", "#", "Name", "Type", "Default", "Range", "Display");
  for (const hostkit::ParameterDescription& parameter : session.Parameters()) {
    char range[32];
    std::snprintf(range, sizeof range, "%g..%g", static_cast<double>(parameter.minimum),
                  static_cast<double>(parameter.maximum));
    std::printf("%3u  %-14s %-5s %8.4g  %-9s %s\n", parameter.index, parameter.name.c_str(), TypeName(parameter.type),
                static_cast<double>(parameter.defaultValue), range, instance->DisplayText(parameter.index).c_str());
  }
  return kExitSuccess;
}

}  // namespace cli
