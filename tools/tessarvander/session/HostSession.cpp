#include "session/HostSession.h"

#include <GL/glew.h>
#include <unistd.h>

#include <cmath>

#include "sys/Executable.h"

namespace tool {

std::string DefaultPluginPath() {
  // Beside the program, as a release folder has it; where the package
  // installs it; else the one built with it.
  for (const char* place : {"Tessarvander.so", TESSARVANDER_INSTALLED_PLUGIN})
    if (const std::string found = Installed(place); !found.empty()) return found;
  return TESSARVANDER_BUILT_PLUGIN;
}

std::unique_ptr<HostSession> HostSession::Open(const SessionOptions& options, std::string& error) {
  std::unique_ptr<HostSession> session(new HostSession());
  // The library is checked before any GL work, so that a wrong file is
  // reported as such even on a machine without GL.
  session->library = hostkit::PluginLibrary::Open(options.pluginPath, error);
  if (!session->library) return nullptr;
  if (!session->library->ReadDescription(session->description, error)) return nullptr;
  const PluginDescription& description = session->description;
  if (description.apiMajorVersion != 2) {
    error = options.pluginPath + " speaks FFGL API " + std::to_string(description.apiMajorVersion) + "." +
            std::to_string(description.apiMinorVersion) + "; this host needs 2.x";
    return nullptr;
  }
  if (description.pluginType != 1) {
    error = options.pluginPath + " is a plugin of type " + std::to_string(description.pluginType) +
            ", not a source (type 1): it needs input images this host does not give";
    return nullptr;
  }
  if (session->library->CallWithValue(FunctionCode::Initialise, 0) != FF_SUCCESS) {
    error = options.pluginPath + " refused to initialise (code 34)";
    return nullptr;
  }
  session->parameters = session->library->ReadParameters();

  if (!options.makeContext) return session;
  session->context = options.device.empty() ? hostkit::GlContext::Create(options.backend, error)
                                            : hostkit::GlContext::CreateOnDevice(options.device, error);
  if (!session->context) return nullptr;
  return session;
}

std::string HostSession::Renderer() const {
  const GLubyte* renderer = glGetString(GL_RENDERER);
  return renderer ? reinterpret_cast<const char*>(renderer) : "";
}

std::unique_ptr<hostkit::PluginInstance> HostSession::CreateInstance(int width, int height,
                                                                     std::string& error) const {
  const ViewportRecord viewport{0, 0, static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  return hostkit::PluginInstance::Create(*library, viewport, error);
}

}  // namespace tool
