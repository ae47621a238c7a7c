// Runs a helper program (ffmpeg, ffprobe, gnuplot) to completion, with its
// standard output and error captured, and optional text fed to its input.
#pragma once

#include <string>
#include <vector>

namespace cli {

struct ChildResult {
  bool started = false;
  int exitCode = -1;
  std::string out;
  std::string err;
};

// `arguments[0]` is looked up on $PATH.
ChildResult RunChild(const std::vector<std::string>& arguments, const std::string& input = "");

// The last non-empty line of a helper's messages, for an error message.
std::string LastLine(const std::string& text);

}  // namespace cli
