// An output written under a temporary name in its final folder and renamed
// into place only when complete, so that a failed or interrupted render never
// leaves a broken file behind.
#pragma once

#include <string>

namespace cli {

class OutputFile {
 public:
  // Reserves the temporary name; false with a reason when the folder is
  // missing or cannot be written.
  bool Open(const std::string& finalPath, std::string& error);
  // Renames the finished file into place.
  bool Commit(std::string& error);
  // Removes the temporary file unless committed.
  ~OutputFile();

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept;

  const std::string& TemporaryPath() const { return temporaryPath; }
  const std::string& FinalPath() const { return finalPath; }

 private:
  std::string finalPath;
  std::string temporaryPath;
  bool committed = false;
};

// Writes a whole text file the same way: under a temporary name, then put in
// place. False with a reason.
bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error);

// The folder part of a path ("." for a bare file name).
std::string FolderOf(const std::string& path);

}  // namespace cli
