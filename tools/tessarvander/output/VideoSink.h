// An H.264 video, encoded by the ffmpeg program as the frames arrive.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "output/FrameSink.h"
#include "sys/OutputFile.h"
#include "output/VideoArguments.h"
#include "sys/ChildProcess.h"

namespace tool {

class VideoSink : public FrameSink {
 public:
  // An unfinished video: the encoder is stopped and its file removed.
  ~VideoSink() override;
  bool Start(const std::string& path, int width, int height, double framesPerSecond, const VideoSettings& settings,
             std::string& error);
  bool Write(const uint8_t* rgba, long frameIndex, std::string& error) override;
  bool Finish(std::string& error) override;
  std::string Describe() const override;

 private:
  OutputFile file;
  int width = 0;
  int height = 0;
  long framesWritten = 0;
  std::vector<char> pipeBuffer;
  FILE* pipe = nullptr;
  ChildProcess encoder;
};

}  // namespace tool
