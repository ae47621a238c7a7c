#include "sys/OutputFile.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tool {
namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// Writes all of `text`; false on a short or failed write.
bool WriteAll(int fd, const std::string& text) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t put = write(fd, text.data() + written, text.size() - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    written += static_cast<size_t>(put);
  }
  return true;
}

}  // namespace

bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error) {
  OutputFile file;
  if (!file.Open(path, error)) return false;
  const int fd = open(file.TemporaryPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
  const bool written = fd >= 0 && WriteAll(fd, text);
  if (fd >= 0 && close(fd) != 0) return false;
  if (!written) {
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

bool OutputFile::Open(const std::string& path, std::string& error, Existing whenExisting) {
  finalPath = path;
  existing = whenExisting;
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
  const std::string prefix = (slash == std::string::npos ? "" : folder + "/") + "." + name;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporaryPath = prefix + ".partial-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    const int file = open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
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

// Renames without ever replacing a file: renameat2's RENAME_NOREPLACE, or on
// a file system without it a hard link (which fails on an existing name)
// and the temporary name removed.
static int RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (link(from.c_str(), to.c_str()) != 0) return -1;
  unlink(from.c_str());
  return 0;
}

bool OutputFile::Commit(std::string& error) {
  const int renamed = existing == Existing::Keep ? RenameWithoutReplacing(temporaryPath, finalPath)
                                                 : std::rename(temporaryPath.c_str(), finalPath.c_str());
  if (renamed != 0) {
    error = errno == EEXIST ? finalPath + " appeared while it was written; it is kept, and nothing replaces it"
                            : "cannot put " + finalPath + " in place: " + std::strerror(errno);
    return false;
  }
  committed = true;
  return true;
}

bool CommitAll(std::vector<OutputFile>& files, std::string& error) {
  // A file about to be replaced is kept under a second name until every
  // file is in place.
  std::vector<std::string> kept(files.size());
  size_t done = 0;
  for (; done < files.size(); ++done) {
    OutputFile& file = files[done];
    if (Exists(file.finalPath)) {
      kept[done] = file.temporaryPath + ".previous";
      if (link(file.finalPath.c_str(), kept[done].c_str()) != 0) {
        error = "cannot replace " + file.finalPath + ": " + std::strerror(errno);
        kept[done].clear();
        break;
      }
    }
    if (!file.Commit(error)) break;
  }
  if (done == files.size()) {
    for (const std::string& previous : kept)
      if (!previous.empty()) unlink(previous.c_str());
    return true;
  }
  // Undo: the files moved so far go back, and what they replaced returns.
  for (size_t i = 0; i <= done && i < files.size(); ++i) {
    OutputFile& file = files[i];
    if (file.committed) {
      if (!kept[i].empty()) rename(kept[i].c_str(), file.finalPath.c_str());
      else unlink(file.finalPath.c_str());
      file.committed = false;
    } else if (!kept[i].empty()) {
      unlink(kept[i].c_str());
    }
  }
  return false;
}

bool OutsideName(const std::string& folder, const std::string& name, const std::string& extension, std::string& path,
                 std::string& error) {
  bool plain = !name.empty() && name.size() <= 100 && name[0] != '.' && name.size() > extension.size() &&
               name.compare(name.size() - extension.size(), extension.size(), extension) == 0;
  for (char c : name)
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) plain = false;
  if (!plain) {
    error = "a name from outside must be a plain file name ending in " + extension +
            " (no folder, no leading dot, at most 100 bytes); it is written in the --out folder";
    return false;
  }
  const std::string base = (folder.empty() ? "" : folder + "/");
  const std::string stem = name.substr(0, name.size() - extension.size());
  path = base + name;
  for (int number = 2; Exists(path); ++number) {
    if (number > 99) {
      error = name + " and the names after it up to " + stem + "-99" + extension + " are taken";
      return false;
    }
    path = base + stem + "-" + std::to_string(number) + extension;
  }
  return true;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : finalPath(std::move(other.finalPath)),
      temporaryPath(std::move(other.temporaryPath)),
      existing(other.existing),
      committed(other.committed) {
  other.temporaryPath.clear();
}

OutputFile::~OutputFile() {
  if (!committed && !temporaryPath.empty()) std::remove(temporaryPath.c_str());
}

}  // namespace tool
