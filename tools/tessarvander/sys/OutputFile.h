// The one output policy: every file is created new (O_EXCL) under a hidden
// temporary name in its final folder, written, and renamed into place only
// when complete, so that a failed or interrupted render never leaves a broken
// file behind. A set of files (a PNG sequence) is put in place whole or not
// at all. Names that come from outside the command line (OSC) never replace
// a file: see OutsideName.
#pragma once

#include <string>
#include <vector>

namespace tool {

class OutputFile {
 public:
  // What committing does to a file already at the final path: the command
  // line's own output replaces it; a name from outside never does.
  enum class Existing { Replace, Keep };

  // Creates the temporary file; false with a reason when the folder is
  // missing or cannot be written.
  bool Open(const std::string& finalPath, std::string& error, Existing existing = Existing::Replace);
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
  friend bool CommitAll(std::vector<OutputFile>& files, std::string& error);
  std::string finalPath;
  std::string temporaryPath;
  Existing existing = Existing::Replace;
  bool committed = false;
};

// Puts every file in place, or none: when one cannot be, those already moved
// are taken back and the files they replaced restored.
bool CommitAll(std::vector<OutputFile>& files, std::string& error);

// Writes a whole text file the same way: under a temporary name, then put in
// place. False with a reason.
bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error);

// The path in `folder` for a file name that came from outside (an OSC
// message): a plain name ending in `extension` (no folder, no "..", no
// leading dot, no control characters, at most 100 bytes), and, when a file of
// that name exists, the next free "NAME-2", "NAME-3" ... up to 99. False with
// one line otherwise.
bool OutsideName(const std::string& folder, const std::string& name, const std::string& extension, std::string& path,
                 std::string& error);

// The folder part of a path ("." for a bare file name).
std::string FolderOf(const std::string& path);

}  // namespace tool
