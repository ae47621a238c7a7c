// Where rendered frames go: one PNG still, a numbered PNG sequence, or an
// H.264 MP4 made by the ffmpeg program. Every sink writes under temporary names
// and puts its files in place only in Finish; destroying a sink that was not
// finished removes everything it wrote.
//
// Write is called from the read-back pipeline's writer thread, one frame at a
// time, in frame order; Start and Finish from the main thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "OutputFile.h"
#include "PngWriter.h"

namespace cli {

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // `rgba` holds width * height pixels, bottom row first (as GL reads them).
  virtual bool Write(const uint8_t* rgba, long frameIndex, std::string& error) = 0;
  virtual bool Finish(std::string& error) = 0;
  // What was written, for the closing message.
  virtual std::string Describe() const = 0;
};

enum class OutputKind { Still, Sequence, Video };

// Decides by the path: a printf-style number ("%05d") makes a sequence,
// ".mp4", ".mov", ".mkv" a video, ".png" a still. False with a reason for
// anything else.
bool OutputKindOf(const std::string& path, OutputKind& kind, std::string& error);

class PngStillSink : public FrameSink {
 public:
  bool Start(const std::string& path, int width, int height, const PngOptions& options, std::string& error);
  bool Write(const uint8_t* rgba, long frameIndex, std::string& error) override;
  bool Finish(std::string& error) override;
  std::string Describe() const override;

 private:
  OutputFile file;
  int width = 0;
  int height = 0;
  PngOptions options;
  bool written = false;
};

class PngSequenceSink : public FrameSink {
 public:
  // `pattern` holds one %d, %0Nd or %Nd for the frame number, counted from
  // `firstNumber`.
  bool Start(const std::string& pattern, int width, int height, long firstNumber, const PngOptions& options,
             std::string& error);
  bool Write(const uint8_t* rgba, long frameIndex, std::string& error) override;
  bool Finish(std::string& error) override;
  std::string Describe() const override;

 private:
  std::string pattern;
  int width = 0;
  int height = 0;
  long firstNumber = 0;
  PngOptions options;
  std::vector<OutputFile> files;
};

// A sound track to mux into a video: its first audio stream, cut to the
// video's length; copied when the container takes its codec as it is,
// otherwise encoded as AAC.
struct AudioMux {
  std::string path;
  std::string codec;
  double seconds = 0.0;
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

class VideoSink : public FrameSink {
 public:
  ~VideoSink() override;
  bool Start(const std::string& path, int width, int height, double framesPerSecond, const VideoSettings& settings,
             std::string& error);
  bool Write(const uint8_t* rgba, long frameIndex, std::string& error) override;
  bool Finish(std::string& error) override;
  std::string Describe() const override;

 private:
  void StopEncoder();

  OutputFile file;
  int width = 0;
  int height = 0;
  long framesWritten = 0;
  std::vector<char> pipeBuffer;
  FILE* pipe = nullptr;
  pid_t encoder = -1;
};

// The sequence file name for one frame number; false when the pattern has no
// number field, or more than one.
bool SequenceName(const std::string& pattern, long number, std::string& name);

// The path of a program on $PATH, or empty.
std::string FindProgram(const std::string& name);

}  // namespace cli
