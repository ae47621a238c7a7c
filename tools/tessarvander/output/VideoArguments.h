// What ffmpeg is told to make of a video: the encoder's settings and the
// sound track muxed in.
#pragma once

#include <string>
#include <vector>

namespace tool {

// A sound track to mux into a video: its first audio stream, cut to the
// video's length; copied when the container takes its codec as it is,
// otherwise encoded as AAC.
struct AudioMux {
  std::string path;
  std::string codec;
  double seconds = 0.0;
  // A WAV recorded live and cut short: read to its end, whatever its
  // header says.
  bool toTheEnd = false;
};

// ffmpeg's name for the container a video path asks for: "matroska" for
// .mkv, "mov" for .mov, "mp4" otherwise.
std::string ContainerFormatOf(const std::string& path);

// The ffmpeg arguments that add the track to a video read as input 0.
std::vector<std::string> AudioMuxArguments(const AudioMux& audio, const std::string& outputPath);

struct VideoSettings {
  // x264 "veryfast" gives the most quality per byte for the time it takes on
  // this kind of picture (medium: +1 dB at 2.5 times the time; superfast and
  // ultrafast: far more bytes for the same quality); CRF 16 keeps the
  // one-pixel lines that CRF 20 smears. See docs/benchmarks.md.
  std::string preset = "veryfast";
  int crf = 16;
  AudioMux audio;  // none when the path is empty
};

}  // namespace tool
