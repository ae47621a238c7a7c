#include "app/CommandSupport.h"

#include <cstdio>

#include "formats/Presets.h"
#include "hostkit/GlContext.h"
#include "sys/BoundedFile.h"
#include "sys/Executable.h"

namespace tool {
int Fail(int code, const std::string& message) {
  Warn(message);
  return code;
}

void SessionFlags::Declare(CLI::App& command, bool offscreen) {
  command.add_option("--plugin", plugin, "the plugin to load (default: the one built here)")->type_name("PATH");
  if (offscreen) {
    command.add_option("--gl", gl, "GL through EGL without a display, or GLX on $DISPLAY")
        ->check(OneOf({"egl", "glx"}))
        ->type_name("egl|glx")
        ->capture_default_str();
    command.add_option("--device", device,
                       "draw on an EGL device with no display: auto (a GPU, else Mesa's software device), an index "
                       "or a DRM device file (see info --devices)")
        ->type_name("auto|N|PATH");
  }
  command.add_flag("-q,--quiet", quiet, "no progress line and no summary");
  command.add_option("--preset", preset, "parameter values from a preset file, before --set and --ramp")
      ->type_name("FILE");
  DeclareControl(command, "set", "--set",
                 "set a parameter, by name (any case) or index; repeatable. See 'tessarvander info' for the names.")
      ->type_name("NAME=VALUE");
}

CLI::Option* SessionFlags::DeclareControl(CLI::App& command, const std::string& kind, const std::string& name,
                                          const std::string& description) {
  return command
      .add_option_function<std::string>(
          name, [this, kind](const std::string& text) { controls.emplace_back(kind, text); }, description)
      ->trigger_on_parse()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

bool SessionFlags::CheckDevice(std::string& error) const {
  if (device.empty()) return true;
  if (gl != "egl") {
    error = "--device draws through EGL; it does not go with --gl " + gl;
    return false;
  }
  return hostkit::ResolveEglDevice(device, error) != hostkit::kNoDevice;
}

SessionOptions SessionFlags::Options() const {
  SessionOptions options;
  options.pluginPath = plugin.empty() ? DefaultPluginPath() : plugin;
  hostkit::ParseGlBackend(gl, options.backend);
  options.device = device;
  return options;
}

std::vector<std::string> SessionFlags::ControlsOf(const std::string& kind) const {
  std::vector<std::string> texts;
  for (const auto& [controlKind, text] : controls)
    if (controlKind == kind) texts.push_back(text);
  return texts;
}

bool OpenSession(const SessionOptions& options, CommandContext& context, std::string& error) {
  context.session = HostSession::Open(options, error);
  return context.session != nullptr;
}

bool ReadControls(const SessionFlags& flags, bool allowRamps, CommandContext& context, std::string& error) {
  context.controls = std::make_unique<ParameterControls>(ParameterNames(context.session->Parameters()));
  if (!flags.preset.empty()) {
    std::vector<ParameterValue> values;
    if (!LoadPreset(flags.preset, context.Names(), values, error)) return false;
    for (const ParameterValue& value : values) context.controls->AddFixed(value.index, value.value);
  }
  for (const auto& [kind, text] : flags.controls) {
    if (kind == "set" && !context.controls->AddSet(text, error)) return false;
    if (kind == "ramp" && allowRamps && !context.controls->AddRamp(text, error)) return false;
  }
  return true;
}

std::string ShippedBank() {
  if (const std::string installed = Installed(TESSARVANDER_INSTALLED_PRESETS); IsReadableFolder(installed))
    return installed;
  return IsReadableFolder(TESSARVANDER_PRESETS) ? TESSARVANDER_PRESETS : "";
}

}  // namespace tool
