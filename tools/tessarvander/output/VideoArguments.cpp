#include "output/VideoArguments.h"

#include <cstdio>

#include "output/OutputKind.h"
#include "sys/ChildProcess.h"

namespace tool {

std::string ContainerFormatOf(const std::string& path) {
  return EndsWith(path, ".mkv") ? "matroska" : EndsWith(path, ".mov") ? "mov" : "mp4";
}

std::vector<std::string> AudioMuxArguments(const AudioMux& audio, const std::string& outputPath) {
  if (audio.path.empty()) return {};
  const bool matroska = ContainerFormatOf(outputPath) == "matroska";
  bool copy = audio.codec == "aac" || audio.codec == "mp3" || audio.codec == "alac";
  if (matroska)
    copy = copy || audio.codec == "flac" || audio.codec == "opus" || audio.codec == "vorbis" ||
           audio.codec == "ac3" || audio.codec.rfind("pcm_", 0) == 0;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.6f", audio.seconds);
  std::vector<std::string> arguments = {"-t", seconds, "-protocol_whitelist", "file"};
  if (audio.toTheEnd) arguments.insert(arguments.end(), {"-ignore_length", "1"});
  arguments.insert(arguments.end(), {"-i", MediaPath(audio.path), "-map", "0:v:0", "-map", "1:a:0", "-c:a"});
  if (copy) {
    arguments.push_back("copy");
  } else {
    arguments.insert(arguments.end(), {"aac", "-b:a", "192k"});
  }
  return arguments;
}

}  // namespace tool
