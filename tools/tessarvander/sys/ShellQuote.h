// Text for sh to read back exactly: the farm's scripts and the commands
// --dry-run prints quote every argument this way, so that no text from the
// command line or a file is ever read as shell code.
#pragma once

#include <string>
#include <vector>

namespace tool {

// The text between single quotes that sh reads back as exactly `text`.
std::string ShellQuoted(const std::string& text);
// A command line as it would be typed: every argument that is not a plain
// word quoted as above, so pasting it runs exactly these arguments.
std::string ShellCommand(const std::vector<std::string>& arguments);

}  // namespace tool
