// What an output path asks for: a printf-style number ("%05d") makes a PNG
// sequence, ".mp4", ".mov", ".mkv" a video, ".png" a still.
#pragma once

#include <string>

namespace tool {

enum class OutputKind { Still, Sequence, Video };

// False with a reason for anything else.
bool OutputKindOf(const std::string& path, OutputKind& kind, std::string& error);

// The sequence file name for one frame number; false when the pattern has no
// number field, or more than one.
bool SequenceName(const std::string& pattern, long number, std::string& name);

bool EndsWith(const std::string& text, const std::string& ending);

}  // namespace tool
