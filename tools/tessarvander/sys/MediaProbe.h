// What ffprobe says of a media file, for the decoders and muxers that follow.
#pragma once

#include <string>

#include "sys/ChildProcess.h"

namespace tool {

// ffprobe's answer about the file's first audio stream: its codec's name on
// standard output, nothing there when there is none.
ChildResult ProbeAudioStream(const std::string& path);

}  // namespace tool
