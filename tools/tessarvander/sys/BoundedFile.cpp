#include "sys/BoundedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tool {

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

bool IsWritableFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && access(path.c_str(), W_OK | X_OK) == 0;
}

bool IsReadableFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && access(path.c_str(), R_OK | X_OK) == 0;
}

std::string SizeText(size_t bytes) {
  if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " bytes";
}

bool ReadBoundedFile(const std::string& path, size_t limit, const std::string& what, std::string& text,
                     std::string& error) {
  const std::string where = what + " " + path;
  // Its kind before it is opened: opening a device or a FIFO can do
  // something of its own. After, the same file, in case it was swapped.
  struct stat before {};
  if (stat(path.c_str(), &before) != 0) {
    error = where + ": cannot be read (" + std::strerror(errno) + ")";
    return false;
  }
  if (!S_ISREG(before.st_mode)) {
    error = where + ": not a regular file";
    return false;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error = where + ": cannot be read (" + std::strerror(errno) + ")";
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_dev != before.st_dev || info.st_ino != before.st_ino) {
    close(fd);
    error = where + ": not a regular file";
    return false;
  }
  if (static_cast<unsigned long long>(info.st_size) > limit) {
    close(fd);
    error = where + ": larger than " + SizeText(limit);
    return false;
  }
  text.clear();
  text.reserve(static_cast<size_t>(info.st_size));
  char buffer[65536];
  while (true) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = where + ": cannot be read (" + std::strerror(errno) + ")";
      close(fd);
      return false;
    }
    if (got == 0) break;
    // The file may grow while it is read.
    if (text.size() + static_cast<size_t>(got) > limit) {
      close(fd);
      error = where + ": larger than " + SizeText(limit);
      return false;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return true;
}

}  // namespace tool
