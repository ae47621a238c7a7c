#include "output/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace cli {

bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error) {
  OutputFile file;
  if (!file.Open(path, error)) return false;
  std::ofstream out(file.TemporaryPath(), std::ios::binary);
  out << text;
  out.close();
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return file.Commit(error);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool OutputFile::Open(const std::string& path, std::string& error) {
  finalPath = path;
  const std::string folder = FolderOf(path);
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = "cannot write " + path + ": the folder " + folder + " does not exist";
    return false;
  }
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // Hidden, and marked as unfinished, next to the final file so that the
  // rename stays within one file system.
  const std::string prefix = (folder == "." && slash == std::string::npos ? "" : folder + "/") + "." + name;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporaryPath = prefix + ".partial-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    const int file = open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (file >= 0) {
      close(file);
      return true;
    }
    if (errno != EEXIST) break;
  }
  error = "cannot write in " + folder + ": " + std::strerror(errno);
  temporaryPath.clear();
  return false;
}

bool OutputFile::Commit(std::string& error) {
  if (std::rename(temporaryPath.c_str(), finalPath.c_str()) != 0) {
    error = "cannot rename " + temporaryPath + " to " + finalPath + ": " + std::strerror(errno);
    return false;
  }
  committed = true;
  return true;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : finalPath(std::move(other.finalPath)),
      temporaryPath(std::move(other.temporaryPath)),
      committed(other.committed) {
  other.temporaryPath.clear();
}

OutputFile::~OutputFile() {
  if (!committed && !temporaryPath.empty()) std::remove(temporaryPath.c_str());
}

}  // namespace cli
