#include "sys/MediaProbe.h"

namespace tool {

ChildResult ProbeAudioStream(const std::string& path) {
  return RunChild({"ffprobe", "-v", "error", "-protocol_whitelist", "file", "-select_streams", "a:0", "-show_entries",
                   "stream=codec_name", "-of", "default=nw=1:nk=1", MediaPath(path)});
}

}  // namespace tool
