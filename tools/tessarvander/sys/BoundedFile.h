// The one way this program reads a file it is given (presets, takes,
// manifests): a regular file only, opened without blocking, so that a
// folder, a FIFO or a device is refused at once instead of read or waited
// on, and never more than a stated number of bytes.
#pragma once

#include <cstddef>
#include <string>

namespace tool {

// Reads the whole file into `text`. False with one line (naming `what` and
// the path) when it is not a regular file, cannot be read, or is larger
// than `limit` bytes.
bool ReadBoundedFile(const std::string& path, size_t limit, const std::string& what, std::string& text,
                     std::string& error);

// True when the path names a regular file (after links), checked without
// opening it.
bool IsRegularFile(const std::string& path);
// True when anything is at the path, even a broken link.
bool PathExists(const std::string& path);

// True when the path names a folder this program may create files in.
bool IsWritableFolder(const std::string& path);
// True when the path names a folder this program may list and read.
bool IsReadableFolder(const std::string& path);

// "64 KiB", "1 MiB": a limit as the messages and the README state it.
std::string SizeText(size_t bytes);

}  // namespace tool
