// Where this program and the files installed with it are: the folder of the
// running executable, and a path relative to it (the plugin and the shipped
// looks of an installed program sit beside its bin folder).
#pragma once

#include <string>

namespace tool {

// The running executable's folder ("." when it cannot be read).
std::string ExecutableFolder();
// `relative` from the executable's folder, when a file or folder is there;
// empty otherwise.
std::string Installed(const std::string& relative);

}  // namespace tool
