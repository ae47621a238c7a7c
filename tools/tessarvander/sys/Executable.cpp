#include "sys/Executable.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

namespace tool {

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  path[length] = '\0';
  const std::string folder(path);
  return folder.substr(0, folder.rfind('/'));
}

std::string Installed(const std::string& relative) {
  const std::string path = std::filesystem::path(ExecutableFolder() + "/" + relative).lexically_normal().string();
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? path : "";
}

}  // namespace tool
